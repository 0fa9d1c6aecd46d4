// CreateArray: nested lists of given dimensions, numeric rows packed as LISTNUMs.
#include "Lumbra.h"
#include "builtins.h"

// t[i], t[i+1], ... are the ranges 1..m of the dimensions, optionally followed by the
// initial value; without one the innermost rows are numeric zeros.
ALGEB CreateArray(ALGEB t, int i) {
    WORD last = LENGTH(t) - 1;
    ALGEB r = i <= last ? A(t[i]) : 0;
    if (r == 0 || !is(r, RANGE) || !Eq(A(r[1]), 1) || !IMMINT(A(r[2])) || IMMVAL(A(r[2])) < 0)
        userror("invalid range argument for CreateArray");
    WORD m = IMMVAL(A(r[2]));
    if (m == 0) return EmptyList;

    ALGEB init = i + 1 == last ? A(t[last]) : 0;
    if (i == last || (init != 0 && numeric(init))) {
        ALGEB v = Newl1(m + 1, LISTNUM);
        double d = init != 0 ? DBL(init) : 0.0;
        for (WORD k = 0; k < m; k++)
            LISTNUMDATA(v)[k] = d;
        return v;
    }
    ALGEB s = Newl1(m + 1, EXPSEQ);
    bool shared = init != 0 && !is(init, RANGE);
    for (WORD k = 1; k <= m; k++)
        s[k] = W(shared ? init : CreateArray(t, i + 1));
    return New2(LIST, s);
}
