// Provisional definitions so that the tree links while this component is written.
#include "sets.h"

#include "Lumbra.h"

int SetComp(ALGEB a, ALGEB b) {
    userror("SetComp is not available yet");
}
ALGEB SetNormal(ALGEB s) {
    userror("SetNormal is not available yet");
}
ALGEB SetUnion(ALGEB t) {
    userror("SetUnion is not available yet");
}
ALGEB SetIntersect(ALGEB t) {
    userror("SetIntersect is not available yet");
}
ALGEB SetMinus(ALGEB t) {
    userror("SetMinus is not available yet");
}
ALGEB SetSubset(ALGEB t) {
    userror("SetSubset is not available yet");
}
bool IsUniverse(ALGEB t) {
    userror("IsUniverse is not available yet");
}
ALGEB LumbraSort(ALGEB t) {
    userror("LumbraSort is not available yet");
}
WORD numterms(ALGEB x) {
    userror("numterms is not available yet");
}
ALGEB op1(WORD i, ALGEB x) {
    userror("op1 is not available yet");
}
ALGEB op(WORD lo, WORD hi, ALGEB x) {
    userror("op is not available yet");
}
ALGEB ExpseqFromFun(ALGEB f) {
    userror("ExpseqFromFun is not available yet");
}
WORD member(ALGEB s, ALGEB x) {
    userror("member is not available yet");
}
int hasid(ALGEB s, WORD type) {
    userror("hasid is not available yet");
}
int has(ALGEB s, ALGEB a) {
    userror("has is not available yet");
}
WORD length(ALGEB x) {
    userror("length is not available yet");
}
WORD size(ALGEB x) {
    userror("size is not available yet");
}
ALGEB Append2(ALGEB s, ALGEB a) {
    userror("Append2 is not available yet");
}
ALGEB AppendND(ALGEB s, ALGEB a) {
    userror("AppendND is not available yet");
}
ALGEB append(ALGEB s, ALGEB t) {
    userror("append is not available yet");
}
const char *toCharptr(ALGEB s) {
    userror("toCharptr is not available yet");
}
const char *toCharptrU(ALGEB s) {
    userror("toCharptrU is not available yet");
}
ALGEB toNAME(ALGEB s) {
    userror("toNAME is not available yet");
}
INT toInteger(ALGEB s) {
    userror("toInteger is not available yet");
}
