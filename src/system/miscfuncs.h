// File names, lock files, the host, the date, the wall clock and shell commands.
#pragma once

#include <cstddef>

#include "All.h"

// Copies name into buffer, a leading "~" or "~user" replaced by that home directory.
void expandname(const char *name, char *buffer, size_t size);

// true when the lock file was made, false when the path already exists; message may be 0.
ALGEB LockFile(const char *path, const char *message);

ALGEB hostname(); // the node name up to its first '.'
ALGEB date();     // ctime of now without its newline
double rtime();   // wall-clock seconds

// [status, output]; seconds 0 waits however long the command runs, and a command that
// outlives its limit gives [-1, "(Timeout)"].
ALGEB TimedCallSystem(const char *command, int seconds);
// The status of the command run through the shell, as system() reports it.
ALGEB CallSystem(const char *command);
