// Compressed objects: numbers, texts, lists, sets and structures packed into a stream of
// 4-bit codes, and the cache of their decompressed values.
#pragma once

#include "All.h"

constexpr int MAXCOMPRSTRLEN = 1000000; // nibbles a compression may write
constexpr int COMPRESS_CACHE = 262144;  // slots of the decompression cache
constexpr int MAXSTRUCTURENAMES = 256;

// The first nibble of every token.
enum : int {
    START_LIST = 0,
    START_LISTNUM = 1,
    START_SET = 2,
    START_OBJECT = 3,
    START_TEXT = 4,
    POSINT_4_BIT = 5,
    INT_8_BIT = 6,
    INT_12_BIT = 7,
    INT_16_BIT = 8,
    INT_20_BIT = 9,
    INT_24_BIT = 10,
    INT_32_BIT = 11,
    INT_40_BIT = 12, // reserved
    INT_64_BIT = 13, // reserved
    FLOAT_32_BIT = 14,
    DOUBLE_64_BIT = 15,
};

// The structures met so far: function part and object length of each; a START_OBJECT token
// carries an index into this table, so only this process can decompress what it compressed.
extern ALGEB *StructureNames;
extern WORD StructureLengths[MAXSTRUCTURENAMES];
extern int TotStructureNames;

extern int Compress_hits, Compress_misses, Compress_empty;

ALGEB compress(ALGEB s);
// Anything but a COMPRESSED object is returned as it is.
ALGEB decompress(ALGEB s);

// The writers put one nibble per byte at buf[*pos], advancing *pos.
void compressR(ALGEB s, unsigned char *buf, int *pos);
void compressd(double d, unsigned char *buf, int *pos);
// Reads the value whose token starts at nibble *pos of the packed bytes; a token that would
// run past nibble end is corrupt.
ALGEB decompressR(const unsigned char *bytes, WORD *pos, WORD end);
