// Provisional definitions so that the tree links while this component is written.
#include "simplfnc.h"

#include "Lumbra.h"

ALGEB simplfnc(ALGEB s, ALGEB currproc, ALGEB lex) {
    userror("simplfnc is not available yet");
}
ALGEB DetermLocals(ALGEB body, ALGEB locals, ALGEB globals, ALGEB params) {
    userror("DetermLocals is not available yet");
}
ALGEB InsertName(ALGEB t, ALGEB locals, ALGEB globals, ALGEB params) {
    userror("InsertName is not available yet");
}
ALGEB ProcessOptParams(ALGEB proc) {
    userror("ProcessOptParams is not available yet");
}
