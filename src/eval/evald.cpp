// Provisional definitions so that the tree links while this component is written.
#include "evald.h"

#include "Lumbra.h"

ALGEB evald_t[64];
int evald_lt = 0;

double evald(ALGEB s) {
    userror("evald is not available yet");
}
double evaldSUM(double *t, int lt) {
    userror("evaldSUM is not available yet");
}
double smpow(double d, double dr) {
    userror("smpow is not available yet");
}
ALGEB evalseq(ALGEB e, ALGEB var, ALGEB lohi) {
    userror("evalseq is not available yet");
}
ALGEB evalsum(ALGEB e, ALGEB var, ALGEB lohi) {
    userror("evalsum is not available yet");
}
ALGEB evalprod(ALGEB e, ALGEB var, ALGEB lohi) {
    userror("evalprod is not available yet");
}
double maxmin(int code, double p) {
    userror("maxmin is not available yet");
}
double selectd(ALGEB s, ALGEB *t, int lt, int i) {
    userror("selectd is not available yet");
}
ALGEB subtract(ALGEB a, ALGEB b) {
    userror("subtract is not available yet");
}
