// Provisional definitions so that the tree links while this component is written.
#include "type.h"

#include "Lumbra.h"

int type(ALGEB s, ALGEB typ) {
    userror("type is not available yet");
}
int type_numeric(double x, ALGEB typ) {
    userror("type_numeric is not available yet");
}
int type_array(ALGEB s, ALGEB args, int ia) {
    userror("type_array is not available yet");
}
int type_matrix(ALGEB s, ALGEB t) {
    userror("type_matrix is not available yet");
}
WORD typesel(ALGEB typname) {
    userror("typesel is not available yet");
}
int onlyconst(ALGEB s) {
    userror("onlyconst is not available yet");
}
