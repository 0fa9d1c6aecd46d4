// Sizes, contents and status of whole files, compressed ones included.
#pragma once

#include <cstddef>
#include <cstdint>

#include "All.h"

// Characters in the file, uncompressed for names ending in .gz or .Z; 0 when it cannot be
// examined.
uint64_t FileSize(const char *path);
// Exactly length characters of the file (decompressed like FileSize); ends the program when
// they cannot be read.
void ReadFile(const char *path, char *buffer, size_t length);
// The whole file as one TEXT, the empty text when it is empty or cannot be examined.
ALGEB ReadRawFile(const char *name);
// The call FileStat(name, device, inode, ..., ctime), evaluated; FileStat() unevaluated when
// the file cannot be examined.
ALGEB FileStat(ALGEB name);
