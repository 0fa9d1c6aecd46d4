// The message channel: one client connection to a peer over a local socket.
#pragma once

#include <cstddef>

#include "All.h"

// Every message goes with a header of 8 characters, its length in "%7d " form.
constexpr int IPCHEADER = 8;
constexpr size_t IPCMAXMESSAGE = 9999999;
constexpr size_t IPCMAXPASSWORD = 1024;

// Connects to the peer listening at path (a leading ~ expanded) and sends the password preamble,
// whose first number is the process group when sendgroup is set, else 0.
void ConnectTcp(const char *path, bool sendgroup);
void SendTcp(const char *bytes, size_t length);
// The next message as a TEXT, or 0 when none begins within timeout seconds.
ALGEB ReceiveTcp(double timeout);
void DisconnectTcp();
// The error "IPC [operation]: " followed by the system's text for errno.
[[noreturn]] void IPCerror(const char *operation);

// Built-ins 208 to 211, on their checked arguments t[1..n]; each refuses in server mode.
ALGEB ConnectTcpBuiltin(ALGEB fname, ALGEB t);
ALGEB SendTcpBuiltin(ALGEB fname, ALGEB t);
ALGEB ReceiveTcpBuiltin(ALGEB fname, ALGEB t);
ALGEB DisconnectTcpBuiltin(ALGEB fname, ALGEB t);
