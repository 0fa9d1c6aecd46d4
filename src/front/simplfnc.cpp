// Procedure conversion: a parsed procedure becomes executable, its parameters and locals
// replaced by references into the activation that will run it.
#include "simplfnc.h"

#include <cstdio>
#include <vector>

#include "Lumbra.h"
#include "sets.h"

// What the last scan of an optional-parameter declaration found.
static ALGEB ProcessOptName = 0;
static ALGEB ProcessOptIni = 0;

// The NAME a parameter entry declares: x, or x in x:type.
static ALGEB paramname(ALGEB p) {
    if (is(p, COLON)) return A(p[1]);
    return p;
}

// Names of a converted procedure may be private copies of the global NAME; they are the
// same variable when the texts agree.
static bool samename(ALGEB entry, ALGEB s) {
    if (entry == s) return true;
    if (!isname(entry) || NAMETEXT(s)[0] == 0) return false;
    return strcmp(NAMETEXT(entry), NAMETEXT(s)) == 0;
}

// Index of the name s in a sequence of names (or of parameter entries), 0 when absent.
static WORD findname(ALGEB seq, ALGEB s, bool params) {
    if (seq == 0 || !is(seq, EXPSEQ)) return 0;
    for (WORD k = 1; k < LENGTH2(seq); k++) {
        ALGEB e = A(seq[k]);
        if (params) e = paramname(e);
        if (samename(e, s)) return k;
    }
    return 0;
}

static void warn(const char *msg) {
    fputs(msg, w_unit != 0 ? w_unit : stdout);
    lline = 0;
}

static inline bool isequation(ALGEB x) { return is(x, EQUATION); }

ALGEB InsertName(ALGEB t, ALGEB locals, ALGEB globals, ALGEB params) {
    while (is(t, TABLEREF))
        t = A(t[1]);
    if (!isname(t)) return locals;
    if (findname(globals, t, false) || findname(locals, t, false) || findname(params, t, true))
        return locals;
    return Append2(locals, t);
}

ALGEB DetermLocals(ALGEB s, ALGEB locals, ALGEB globals, ALGEB params) {
    stackcheck();
    while (is(s, FOR)) {
        locals = InsertName(A(s[1]), locals, globals, params);
        s = A(s[LENGTH2(s) - 1]);
    }
    if (IMMINT(s)) return locals;
    switch (CASE_ID2(s)) {
    case IF_CASE:
    case STATSEQ_CASE:
        for (WORD i = 1; i < LENGTH2(s); i++)
            locals = DetermLocals(A(s[i]), locals, globals, params);
        break;
    case ASSIGN_CASE:
        for (WORD i = 1; i < LENGTH2(s) - 1; i++) {
            ALGEB t = A(s[i]);
            if (IMMINT(t)) continue;
            if (ID2(t) == NAME || ID2(t) == TABLEREF) {
                locals = InsertName(t, locals, globals, params);
            } else if (ID2(t) == EXPSEQ) {
                for (WORD j = 1; j < LENGTH2(t); j++)
                    locals = InsertName(A(t[j]), locals, globals, params);
            }
        }
        break;
    default: break;
    }
    return locals;
}

// Finds the name (and default) of one optional-parameter declaration: the colon-expression
// may sit anywhere inside it, but only once.
static void ProcessOptMakeType(ALGEB x) {
    if (IMMINT(x)) return;
    stackcheck();
    switch (CASE_ID2(x)) {
    case NUMBER_CASE:
    case NAME_CASE:
    case TEXT_CASE:
    case LOCAL_CASE:
    case PARAM_CASE:
    case LISTNUM_CASE:
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case MATCH_CASE:
    case COMPRESSED_CASE: return;
    case COLON_CASE: {
        if (ProcessOptName != 0)
            userror("multiple colon-expressions defined in an optional parameter");
        ALGEB l = A(x[1]);
        if (isname(l)) {
            ProcessOptName = l;
        } else if (isequation(l) && isname(A(l[1]))) {
            ProcessOptName = A(l[1]);
            ProcessOptIni = A(l[2]);
        } else {
            userror2(l, "invalid lhs of a colon-expression");
        }
        ProcessOptMakeType(l);
        return;
    }
    default:
        if (CASE_ID2(x) > HASHTAB_CASE) return;
        for (WORD i = 1; i < LENGTH2(x); i++)
            ProcessOptMakeType(A(x[i]));
    }
}

// Names and defaults of the optional parameters; every error is raised here, before the
// procedure changes.
static void scanoptional(ALGEB s, std::vector<ALGEB> &names, std::vector<ALGEB> &inis) {
    ALGEB opt = A(s[PROC_OPTIONAL]);
    WORD n = LENGTH(opt);
    names.assign(n, 0);
    inis.assign(n, 0);
    for (WORD i = 1; i < n; i++) {
        ALGEB decl = A(opt[i]);
        ProcessOptIni = ININNoDefault;
        ProcessOptName = 0;
        ProcessOptMakeType(decl);
        if (ProcessOptName == 0)
            userror2(decl, "optional parameter does contain have colon-expression");
        for (WORD j = 1; j < i; j++)
            if (names[j] == ProcessOptName)
                userror2(ProcessOptName, "is a repeated optional parameter name");
        if (findname(A(s[PROC_PARAMS]), ProcessOptName, true))
            userror2(ProcessOptName, "is a repeated parameter name");
        names[i] = ProcessOptName;
        inis[i] = ProcessOptIni;
    }
}

ALGEB ProcessOptParams(ALGEB s) {
    ALGEB opt = A(s[PROC_OPTIONAL]);
    WORD n = LENGTH(opt);
    // "proc(a;)" declares no optional parameter at all.
    if (n <= 1) return s;
    std::vector<ALGEB> names, inis;
    scanoptional(s, names, inis);
    ALGEB locals = A(s[PROC_LOCALS]);
    WORD l1 = LENGTH2(locals);

    locals = enlarge(locals, n - 1);
    s[PROC_LOCALS] = W(locals);
    ALGEB table = Newl1(3 * n - 2, EXPSEQ);
    WORD next = l1;
    for (WORD i = 1; i < n; i++) {
        WORD slot = l1 > 1 ? findname(locals, names[i], false) : 0;
        if (slot == 0 || slot >= l1) {
            slot = next++;
            locals[slot] = W(names[i]);
        }
        table[3 * i - 2] = opt[i];
        table[3 * i - 1] = W(inis[i]);
        table[3 * i] = W(Newint(slot));
    }
    if (next < l1 + n - 1) {
        release(locals + next, l1 + n - 1 - next);
        StoreLEN(locals, next);
    }
    s[PROC_OPTIONAL] = W(table);
    return s;
}

// A NAME of the body: a parameter, a local, a special name, or a local of an enclosing
// procedure (outermost first); anything else is global and stays.
static ALGEB convertname(ALGEB s, ALGEB currproc, ALGEB lex) {
    if (currproc == 0) return s;
    if (WORD k = findname(A(currproc[PROC_PARAMS]), s, true)) return New2(PARAM, A(k));
    if (WORD k = findname(A(currproc[PROC_LOCALS]), s, false)) return New2(LOCAL, A(k));
    if (s == ININnargs) return New2(PARAM, A(0));
    if (s == ININargs) return New2(PARAM, A(-1));
    if (s == ININprocname) return New2(PARAM, A(-2));
    if (lex != 0) {
        for (WORD i = 1; i < LENGTH2(lex); i++) {
            ALGEB p = A(lex[i]);
            if (WORD k = findname(A(p[PROC_LOCALS]), s, false)) return New3(LOCAL, A(-k), p);
        }
    }
    return s;
}

static ALGEB convertproc(ALGEB s, ALGEB currproc, ALGEB lex) {
    if (!isunconverted(s)) return s;
    ALGEB decls = A(s[PROC_LOCALS]);
    ALGEB locals = A(decls[1]), globals = A(decls[2]);
    ALGEB params = A(s[PROC_PARAMS]);
    // Implicit locals are never parameters, so the declared ones are all that can clash.
    for (WORD i = 1; i < LENGTH(params); i++) {
        ALGEB p = paramname(A(params[i]));
        if (isname(p) && findname(locals, p, false)) userror2(p, "is both a parameter and a local");
    }
    if (LENGTH2(s) > PROC_OPTIONAL) {
        std::vector<ALGEB> names, inis;
        scanoptional(s, names, inis);
    }
    // The shared empty sequences must not grow in place.
    if (locals == null || locals == ModuleNull) locals = New1(EXPSEQ);
    s[PROC_LOCALS] = W(DetermLocals(A(s[PROC_BODY]), locals, globals, params));
    release(decls, 3);

    ALGEB chain = 0;
    if (currproc != 0) {
        WORD L = lex != 0 ? LENGTH2(lex) : 1;
        chain = Newl1(L + 1, EXPSEQ);
        for (WORD i = 1; i < L; i++)
            chain[i] = lex[i];
        chain[L] = W(currproc);
    }
    if (LENGTH2(s) > PROC_OPTIONAL) {
        ProcessOptParams(s);
        ALGEB table = A(s[PROC_OPTIONAL]);
        for (WORD i = 2; i < LENGTH2(table); i += 3)
            if (A(table[i]) != ININNoDefault) table[i] = W(simplfnc(A(table[i]), s, chain));
    }
    s[PROC_BODY] = W(simplfnc(A(s[PROC_BODY]), s, chain));

    // Nested procedures may outlive this activation; they keep reaching its locals through
    // private NAMEs of this procedure.
    if (hasid(A(s[PROC_BODY]), PROC)) {
        ALGEB l = A(s[PROC_LOCALS]);
        for (WORD i = LENGTH2(l) - 1; i >= 1; i--) {
            ALGEB c = copyalg(A(l[i]));
            c[1] = 0;
            l[i] = W(c);
        }
    }
    return s;
}

ALGEB simplfnc(ALGEB s, ALGEB currproc, ALGEB lex) {
    if (s == 0 || IMMINT(s)) return s;
    stackcheck();
    WORD L = LENGTH2(s);
    switch (CASE_ID2(s)) {
    case NUMBER_CASE:
    case LOCAL_CASE:
    case PARAM_CASE:
    case LISTNUM_CASE:
    case TEXT_CASE:
    // Data that assemble puts into a body holds no names.
    case DNAFILE_CASE:
    case DAYMATRIX_CASE:
    case MATCH_CASE:
    case COMPRESSED_CASE: return s;
    case NAME_CASE: return convertname(s, currproc, lex);
    case PROC_CASE: return convertproc(s, currproc, lex);
    case FOR_CASE:
        if (isequation(A(s[L - 1]))) warn("suspicious equation in for loop\n");
        break;
    case IF_CASE:
        for (WORD i = 2; i < L; i += 2)
            if (isequation(A(s[i]))) warn("suspicious equation in if statement\n");
        if (L % 2 == 0 && isequation(A(s[L - 1]))) warn("suspicious equation in if statement\n");
        break;
    case STATSEQ_CASE:
        for (WORD i = 1; i < L; i++)
            if (isequation(A(s[i]))) warn("suspicious equation in statement sequence\n");
        break;
    default:
        if (CASE_ID2(s) > HASHTAB_CASE) notimpl("proc with other data");
        break;
    }
    for (WORD i = 1; i < L; i++)
        s[i] = W(simplfnc(A(s[i]), currproc, lex));
    return s;
}
