// Process-wide settings and the built-in that reads and changes them.
#pragma once

#include "All.h"

constexpr int PLOTOUTPUTLEN = 256;

extern UWORD mapsize;                    // databases at least this long are mapped
extern int plotdevice;                   // index into AspectModes
extern char plotoutput[PLOTOUTPUTLEN];   // file of PostScript output
extern double SystemVariables[1];        // counters readable as settings
#define totcells (SystemVariables[0])    // dynamic-programming cells computed so far
extern const char *const AspectModes[4]; // page geometries by plotdevice
extern int maxthreads;                   // most threads of a database scan, 0 for every core
extern const double xwidths[4], ywidths[4];

// The threads a database scan may use: the setting threads, or every core this process may run
// on.
int ScanThreads();

// s names a setting (NAME or TEXT) or is an equation setting = value; returns the old value.
ALGEB SetOption(ALGEB s);
