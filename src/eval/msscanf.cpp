// Provisional definitions so that the tree links while this component is written.
#include "mprintf.h"

#include "Lumbra.h"

ALGEB msscanf(ALGEB string, ALGEB pattern) {
    userror("msscanf is not available yet");
}
