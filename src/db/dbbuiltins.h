// The built-ins of sequence databases: their arguments unpacked for the routines of src/db.
#pragma once

#include "All.h"

// Each takes the evaluated argument sequence t, counted and typed by the dispatch.
ALGEB ReadDbBuiltin(ALGEB t);         // 151 ReadDb(filename)
ALGEB GetOffsetBuiltin(ALGEB t);      // 309 GetOffset(text [, database])
ALGEB GetEntryNumberBuiltin(ALGEB t); // 311 GetEntryNumber(x [, database])
ALGEB SeqFileToDbBuiltin(ALGEB t);    // 312 SeqFileToDb(filename, format)
ALGEB DbPartBuiltin(ALGEB t);         // 313 DbPart(x, part)
