// Statement execution (scaffold until the evaluator lands: statements are echoed).
#include "evalstat.h"

#include "Lumbra.h"

ALGEB evalstat(ALGEB s, int lev) {
    if (!IMMINT(s) && ID2(s) == STOP) normalexit();
    lineprint(s, 0);
    mendline();
    return s;
}
