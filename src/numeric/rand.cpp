// Provisional definitions so that the tree links while this component is written.
#include "rand.h"

#include "Lumbra.h"

void msrand(int seed) {
    userror("msrand is not available yet");
}
double mrand() {
    userror("mrand is not available yet");
}
double Normal_Rand() {
    userror("Normal_Rand is not available yet");
}
