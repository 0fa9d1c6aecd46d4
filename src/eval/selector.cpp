// Provisional definitions so that the tree links while this component is written.
#include "selector.h"

#include "Lumbra.h"

ALGEB selector(ALGEB s, ALGEB t, int i, ALGEB val) {
    userror("selector is not available yet");
}
ALGEB TableSel(ALGEB s, ALGEB key, ALGEB val) {
    userror("TableSel is not available yet");
}
ALGEB MatchSel(ALGEB m, ALGEB t, int i, ALGEB val) {
    userror("MatchSel is not available yet");
}
ALGEB LISTNUMtoLIST(ALGEB s) {
    userror("LISTNUMtoLIST is not available yet");
}
