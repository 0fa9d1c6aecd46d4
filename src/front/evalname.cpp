// The name an assignment target or loop variable denotes.
#include "eval.h"
#include "evalfunc.h"
#include "Lumbra.h"

[[noreturn]] static void illegal(bool viaparam) {
    userror(viaparam ? "Illegal use of a formal parameter" : "Illegal use of an object as a name");
}

ALGEB evalname(ALGEB s) {
    bool viaparam = false;
    for (;;) {
        switch (CASE_ID(s)) {
        case NAME_CASE: return s;
        case TABLEREF_CASE: {
            stackcheck();
            ALGEB r = s;
            ALGEB base = evalname(A(s[1]));
            if (base != A(s[1])) {
                r = copyalg(s);
                r[1] = W(base);
            }
            for (WORD i = 2; i < LENGTH2(s); i++) {
                ALGEB v = eval(A(s[i]));
                if (v == A(r[i])) continue;
                if (r == s) r = copyalg(s);
                r[i] = W(v);
            }
            return r;
        }
        case FUNCTION_CASE: {
            ALGEB v = eval(s);
            if (Equal(v, s, 0)) illegal(viaparam);
            s = v;
            continue;
        }
        case LOCAL_CASE: s = evparloc(s); continue;
        case PARAM_CASE:
            viaparam = true;
            s = evparloc(s);
            continue;
        default: illegal(viaparam);
        }
    }
}
