// Statement execution (scaffold until the evaluator lands: statements are echoed).
#include "evalstat.h"

#include "Lumbra.h"

ALGEB evalstat(ALGEB s, int lev) {
    if (!IMMINT(s) && ID2(s) == STOP) normalexit();
    lineprint(s, 0);
    mendline();
    return s;
}
void assign(ALGEB name, ALGEB rhs, int prfl) {
    userror("assign is not available yet");
}
ALGEB forfrom(ALGEB s) {
    userror("forfrom is not available yet");
}
ALGEB forin(ALGEB s) {
    userror("forin is not available yet");
}
void iterate(ALGEB x) {
    userror("iterate is not available yet");
}
void jumpback() {
    lumbra_jump(Main);
}
ALGEB names(ALGEB typ) {
    userror("names is not available yet");
}
