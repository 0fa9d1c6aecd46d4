// Provisional definitions so that the tree links while this component is written.
#include "mprintf.h"

#include "Lumbra.h"

void mprintf(ALGEB t) {
    userror("mprintf is not available yet");
}
int PrintfPolymorphic(char *out, const char *segment, ALGEB arg) {
    return 0;
}
