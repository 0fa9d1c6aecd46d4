// Server mode: a listening socket with one interpreter process per connection, and what a
// server may still read.
#pragma once

#include <string>

#include "All.h"

// The longest request line a connection's process reads.
constexpr int SERVERLINE = 10000;

// Listens at path for ever; returns only in the child process made for a connection, with the
// first line received on it. The child's output goes to the connection.
ALGEB ServerSocket(const char *path);
// Built-in 246, on its checked argument t[1]; refused in server mode.
ALGEB ServerSocketBuiltin(ALGEB fname, ALGEB t);

// Switches the process into server mode, which lasts until it ends.
void ServerMode();
// The file of the library that a server reads for ReadLibrary(file): only files of the library
// directory that was in force when server mode began.
std::string ServerLibraryFile(const std::string &file);
