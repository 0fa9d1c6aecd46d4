// Provisional definitions so that the tree links while this component is written.
#include "eval.h"

#include "Lumbra.h"

ALGEB eval(ALGEB s) {
    userror("eval is not available yet");
}
int evalbool(ALGEB s) {
    userror("evalbool is not available yet");
}
int Equal(ALGEB r, ALGEB p, int sequal) {
    userror("Equal is not available yet");
}
int CompareAny(WORD id, ALGEB r, ALGEB p) {
    userror("CompareAny is not available yet");
}
ALGEB evparloc(ALGEB s) {
    userror("evparloc is not available yet");
}
ALGEB EvalLexicalName(ALGEB s) {
    userror("EvalLexicalName is not available yet");
}
ALGEB valuenv(ALGEB s) {
    userror("valuenv is not available yet");
}
int nametype(ALGEB s) {
    userror("nametype is not available yet");
}
ALGEB type1(ALGEB s) {
    userror("type1 is not available yet");
}
ALGEB PolymorphicFunction(ALGEB a, const char *method) {
    userror("PolymorphicFunction is not available yet");
}
ALGEB UnaryPolymorphic(ALGEB fn, ALGEB a) {
    userror("UnaryPolymorphic is not available yet");
}
ALGEB BinaryPolymorphic(ALGEB fn, ALGEB a, ALGEB b) {
    userror("BinaryPolymorphic is not available yet");
}
ALGEB CallPolymorphic(ALGEB t, ALGEB functname) {
    userror("CallPolymorphic is not available yet");
}
int hasoption(ALGEB proc, ALGEB option) {
    userror("hasoption is not available yet");
}
ALGEB remember(ALGEB f, ALGEB args) {
    userror("remember is not available yet");
}
