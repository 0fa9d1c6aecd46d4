// The collector's generations; objects carry the generation that allocated them.
#include "Lumbra.h"

// Generation 1 is open from the start; tag 0 (free blocks) is never protected.
INT genc[NGEN] = {0, 999999};
INT gene[NGEN] = {0, 999999};
int gcgen = 1;
WORD genpat = (WORD)1 << ShiftGC;
WORD markpat = 0;
int printgcstatus = 1;
