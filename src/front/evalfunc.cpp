// Provisional definitions so that the tree links while this component is written.
#include "evalfunc.h"

#include "Lumbra.h"

ALGEB OptParamMatch = 0;

ALGEB evalfunc(ALGEB r, ALGEB t, ALGEB functname) {
    userror("evalfunc is not available yet");
}
ALGEB traperror(ALGEB expr) {
    userror("traperror is not available yet");
}
ALGEB evalsysf(const char *fn, ALGEB s) {
    userror("evalsysf is not available yet");
}
ALGEB evalname(ALGEB s) {
    userror("evalname is not available yet");
}
ALGEB FlattenExpseq(ALGEB t, WORD rlt) {
    userror("FlattenExpseq is not available yet");
}
