// The built-ins of sequence databases: their arguments unpacked for the routines of src/db.
#pragma once

#include "All.h"

// Each takes the name it was called by and the evaluated arguments t, typed by the dispatch.
ALGEB ReadDbBuiltin(ALGEB fname, ALGEB t);         // 151 ReadDb(filename)
ALGEB GetOffsetBuiltin(ALGEB fname, ALGEB t);      // 309 GetOffset(text [, database])
ALGEB GetEntryNumberBuiltin(ALGEB fname, ALGEB t); // 311 GetEntryNumber(x [, database])
ALGEB SeqFileToDbBuiltin(ALGEB fname, ALGEB t);    // 312 SeqFileToDb(filename, format)
ALGEB DbPartBuiltin(ALGEB fname, ALGEB t);         // 313 DbPart(x, part)
