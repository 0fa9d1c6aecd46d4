// Provisional definitions so that the tree links while this component is written.
#include "builtins.h"

#include "Lumbra.h"

ALGEB evalbuiltin(ALGEB proc, ALGEB fname, ALGEB call, ALGEB t) {
    userror("evalbuiltin is not available yet");
}
int builtinnumber(ALGEB proc) {
    userror("builtinnumber is not available yet");
}
ALGEB CreateArray(ALGEB t, int i) {
    userror("CreateArray is not available yet");
}
ALGEB uppercase(ALGEB s) {
    userror("uppercase is not available yet");
}
ALGEB lowercase(ALGEB s) {
    userror("lowercase is not available yet");
}
ALGEB ReadRawLine() {
    userror("ReadRawLine is not available yet");
}
