/* The grammar of the language. Each yyparse call reads one statement and leaves its tree in
   parsestat; the trees are ordinary objects, the same that evaluation produces. */

%code requires {
#include "All.h"
}

%code {
#include <memory>
#include <vector>

#include "Lumbra.h"
#include "parse.h"
#include "sets.h"
#include "yylex.h"

// The parser's stack lives in yyparse's frame, so an error unwinding through it leaks nothing.
#define YYSTACK_USE_ALLOCA 1

ALGEB parsestat = 0;
int prtflag = 1;

// A sequence of one element is the element itself. Only sequences built while parsing this
// statement are grown; the fixed empty ones are shared.
static ALGEB seq(ALGEB a, ALGEB b) {
    if (is(a, EXPSEQ) && !ISNULL(a)) return Append2(a, b);
    return New3(EXPSEQ, a, b);
}

static ALGEB asexpseq(ALGEB s) {
    if (is(s, EXPSEQ)) return s;
    return New2(EXPSEQ, s);
}

// f(a1, ..., an) with the arguments inline.
static ALGEB call(ALGEB f, ALGEB args) {
    WORD n = LENGTH2(args) - 1;
    ALGEB r = Newl2(n + 2, FUNCTION, f);
    for (WORD i = 1; i <= n; i++)
        r[i + 1] = args[i];
    return r;
}

// a[i, j]; indexing an indexed name adds to its indices.
static ALGEB indexed(ALGEB a, ALGEB ind) {
    if (ISNULL(ind)) return a;
    WORD n = LENGTH2(ind) - 1;
    if (is(a, TABLEREF)) {
        for (WORD i = 1; i <= n; i++)
            a = Append2(a, A(ind[i]));
        return a;
    }
    ALGEB r = Newl2(n + 2, TABLEREF, a);
    for (WORD i = 1; i <= n; i++)
        r[i + 1] = ind[i];
    return r;
}

static ALGEB sum(ALGEB l, ALGEB r) {
    if (is(l, SUM)) return Append2(l, r);
    return New3(SUM, l, r);
}

static ALGEB relop(ALGEB code, ALGEB l, ALGEB r) {
    WORD c = W(code);
    if (c < 0) return New3(-c, r, l);
    return New3(c, l, r);
}

// The quotient is folded when both sides are numbers; a zero divisor is refused at once.
static ALGEB divide(ALGEB l, ALGEB r, bool *zero) {
    *zero = numeric(r) && DBL(r) == 0;
    if (*zero) return 0;
    if (numeric(l) && numeric(r)) return NewNumber(DBL(l) / DBL(r));
    return NewProd(l, New3(POWER, r, consm1));
}

static bool isparam(ALGEB p) {
    if (IMMINT(p)) return false;
    return ID2(p) == NAME || (ID2(p) == COLON && is(A(p[1]), NAME));
}

static ALGEB control(WORD code) { return New2(CONTROL, MKIMM(code)); }

static ALGEB emptydecls() { return New3(EXPSEQ, New1(EXPSEQ), null); }

static ALGEB procedure(ALGEB params, ALGEB decls, ALGEB options, ALGEB descr, ALGEB type,
                       ALGEB body) {
    // A parameter list with a semicolon comes as EXPSEQ(required, optional).
    if (IDLENGTH(params, EXPSEQ, 3) && is(A(params[1]), EXPSEQ))
        return New8(PROC, A(params[1]), decls, options, descr, type, body, A(params[2]));
    return New7(PROC, params, decls, options, descr, type, body);
}

#define SYNTAXERROR(msg)                                                                       \
    do {                                                                                       \
        yyerror(msg);                                                                          \
        YYERROR;                                                                               \
    } while (0)
}

%define api.value.type {ALGEB}
%define lr.default-reduction most
%expect 0

%token ANDSY 258 ASSIGNSY 259 BY 260 DESCRSY 261 DO 262 ELIF 263 ELLIPSIS 264 ELSE 265
%token END 266 FI 267 FORSY 268 FROM 269 GLOBALSY 270 IFSY 271 INSY 272 LOCALSY 273
%token NATURAL 274 NOTSY 275 OD 276 OPTIONSY 277 ORSY 278 POWERSY 279 PROCSY 280
%token PRODUCTSY 281 QUIT 282 RELOP 283 SYMBOL 284 TEXTSY 285 SUMSY 286 THEN 287 TO 288
%token WHILE 289 MODULESY 290 EXTERNALSY 291 COLONSY 292 COMMASY 293 DIVIDESY 294
%token DOTSY 295 EQSY 296 EOFSY 297 EXCLSY 298 GREATSY 299 LESSTSY 300 LBRACESY 301
%token LBRACKSY 302 LPARSY 303 MINUSSY 304 OPERSY 305 PLUSSY 306 POWSY 307 PRODSY 308
%token RBRACESY 309 RBRACKSY 310 RPARSY 311 SEMICSY 312 VERTBARSY 313

%start input

%%

/* The statement is taken as soon as its terminator is read: every state on the way to
   the acceptance has a single action, so no further token is asked for. */
input
    : errors stat terminator    { parsestat = $2; YYACCEPT; }
    | errors QUIT               { parsestat = New1(STOP); YYACCEPT; }
    ;

errors
    : %empty                    { }
    | errors error terminator
    | errors error EOFSY        { parsestat = control(1); YYACCEPT; }
    | errors EOFSY              { parsestat = control(1); YYACCEPT; }
    ;

terminator
    : SEMICSY                   { prtflag = 1; }
    | COLONSY                   { prtflag = 0; }
    ;

stat
    : assignment
    | exprseq
    | forhead forclauses DO statseq OD {
            ALGEB f = $2;
            f[1] = W($1);
            if (f[2] == 0) f[2] = W(cons1);
            if (f[3] == 0) f[3] = W(cons1);
            if (f[4] == 0) f[4] = W(null);
            if (f[5] == 0) f[5] = W(ININtrue);
            f[6] = W($4);
            $$ = f;
        }
    | forhead INSY exprseq whileclause DO statseq OD { $$ = New5(FOR, $1, $3, $4, $6); }
    | ifstat
    | %empty                    { $$ = null; }
    ;

assignment
    : exprseq ASSIGNSY exprseq      { $$ = New3(ASSIGN, $1, $3); }
    | assignment ASSIGNSY exprseq   { $$ = Append2($1, $3); }
    ;

ifstat
    : ifchain FI
    | ifchain ELSE statseq FI   { $$ = Append2($1, $3); }
    ;

ifchain
    : IFSY exprseq THEN statseq             { $$ = New3(IF, $2, $4); }
    | ifchain ELIF exprseq THEN statseq     { $$ = Append2(Append2($1, $3), $5); }
    ;

forhead
    : FORSY nameexpr            { $$ = $2; }
    | %empty                    { $$ = null; }
    ;

forclauses
    : %empty                    { $$ = Newl1(7, FOR); }
    | forclauses FROM exprseq {
            if ($1[2] != 0) SYNTAXERROR("repeated from part");
            $1[2] = W($3);
            $$ = $1;
        }
    | forclauses BY exprseq {
            if ($1[3] != 0) SYNTAXERROR("repeated by part");
            $1[3] = W($3);
            $$ = $1;
        }
    | forclauses TO exprseq {
            if ($1[4] != 0) SYNTAXERROR("repeated to part");
            $1[4] = W($3);
            $$ = $1;
        }
    | forclauses WHILE exprseq {
            if ($1[5] != 0) SYNTAXERROR("repeated while part");
            $1[5] = W($3);
            $$ = $1;
        }
    ;

whileclause
    : WHILE exprseq             { $$ = $2; }
    | %empty                    { $$ = ININtrue; }
    ;

/* Empty statements are left out of a sequence, except at its start. */
statseq
    : statseq terminator seqstat {
            if (ISNULL($3)) $$ = $1;
            else if (is($1, STATSEQ)) $$ = Append2($1, $3);
            else $$ = New3(STATSEQ, $1, $3);
        }
    | seqstat
    ;

seqstat
    : stat
    | QUIT                      { $$ = New1(STOP); }
    ;

exprseq
    : exprseq COMMASY expr      { $$ = seq($1, $3); }
    | expr
    ;

optexprseq
    : exprseq                   { $$ = asexpseq($1); }
    | %empty                    { $$ = null; }
    ;

expr
    : arrowparams OPERSY arrowbody {
            $$ = New7(PROC, $1, emptydecls(), New3(EXPSEQ, ININoperator, ININarrow), null,
                      null, $3);
        }
    | orexpr
    ;

arrowparams
    : primary                   { $$ = asexpseq($1); }
    | LPARSY RPARSY             { $$ = null; }
    ;

arrowbody
    : expr
    | ifstat
    ;

orexpr
    : orexpr ORSY andexpr       { $$ = New3(OR, $1, $3); }
    | andexpr
    ;

andexpr
    : andexpr ANDSY notexpr     { $$ = New3(AND, $1, $3); }
    | notexpr
    ;

notexpr
    : NOTSY notexpr             { $$ = New2(NOT, $2); }
    | relexpr
    ;

relexpr
    : catexpr RELOP catexpr     { $$ = relop($2, $1, $3); }
    | catexpr LESSTSY catexpr   { $$ = New3(LESSTHAN, $1, $3); }
    | catexpr GREATSY catexpr   { $$ = New3(LESSTHAN, $3, $1); }
    | catexpr EQSY catexpr      { $$ = New3(EQUATION, $1, $3); }
    | catexpr
    ;

catexpr
    : catexpr DOTSY rangeexpr   { $$ = New3(CATENATE, $1, $3); }
    | rangeexpr
    ;

rangeexpr
    : sumexpr ELLIPSIS sumexpr  { $$ = New3(RANGE, $1, $3); }
    | sumexpr
    ;

sumexpr
    : PLUSSY prodexpr           { $$ = $2; }
    | MINUSSY prodexpr          { $$ = NewProd(consm1, $2); }
    | sumexpr PLUSSY prodexpr   { $$ = sum($1, $3); }
    | sumexpr MINUSSY prodexpr  { $$ = sum($1, NewProd(consm1, $3)); }
    | sumexpr SUMSY prodexpr    { $$ = New4(FUNCTION, $2, $1, $3); }
    | prodexpr
    ;

prodexpr
    : prodexpr PRODSY powexpr   { $$ = NewProd($1, $3); }
    | prodexpr DIVIDESY powexpr {
            bool zero;
            $$ = divide($1, $3, &zero);
            if (zero) SYNTAXERROR("division by zero");
        }
    | prodexpr PRODUCTSY powexpr { $$ = New4(FUNCTION, $2, $1, $3); }
    | powexpr
    ;

powexpr
    : factexpr POWSY factexpr   { $$ = New3(POWER, $1, $3); }
    | factexpr
    ;

factexpr
    : factexpr EXCLSY           { $$ = New3(FUNCTION, ININfactorial, $1); }
    | primary
    ;

primary
    : PROCSY LPARSY paramlist RPARSY rettype decls options descr statseq END {
            $$ = procedure($3, $6, $7, $8, $5, $9);
        }
    | MODULESY decls options descr statseq END {
            $$ = New7(PROC, ModuleNull, $2, $3, $4, null, $5);
        }
    | nameexpr
    | TEXTSY
    | LPARSY exprseq RPARSY     { $$ = $2; }
    | VERTBARSY sumexpr VERTBARSY { $$ = New3(FUNCTION, ININabs, $2); }
    | constructor
    ;

constructor
    : NATURAL
    | LBRACESY optexprseq RBRACESY { $$ = $2 == null ? EmptySet : New2(SET, $2); }
    | LBRACKSY optexprseq RBRACKSY { $$ = $2 == null ? EmptyList : New2(LIST, $2); }
    ;

nameexpr
    : SYMBOL
    | SUMSY
    | PRODUCTSY
    | nameexpr LBRACKSY optexprseq RBRACKSY { $$ = indexed($1, $3); }
    | primary LPARSY optexprseq RPARSY      { $$ = call($1, $3); }
    ;

rettype
    : OPERSY orexpr terminator  { $$ = $2; }
    | %empty                    { $$ = null; }
    ;

/* EXPSEQ(locals, globals). */
decls
    : localdecl                 { $$ = New3(EXPSEQ, $1, null); }
    | globaldecl                { $$ = New3(EXPSEQ, New1(EXPSEQ), $1); }
    | localdecl globaldecl      { $$ = New3(EXPSEQ, $1, $2); }
    | globaldecl localdecl      { $$ = New3(EXPSEQ, $2, $1); }
    | %empty                    { $$ = emptydecls(); }
    ;

localdecl
    : LOCALSY namelist terminator       { $$ = $2; }
    ;

globaldecl
    : GLOBALSY namelist terminator      { $$ = $2; }
    | EXTERNALSY namelist terminator    { $$ = $2; }
    ;

options
    : OPTIONSY namelist terminator      { $$ = $2; }
    | %empty                            { $$ = null; }
    ;

descr
    : DESCRSY SYMBOL terminator { $$ = $2; }
    | DESCRSY TEXTSY terminator { $$ = $2; }
    | %empty                    { $$ = null; }
    ;

namelist
    : namelist COMMASY SYMBOL   { $$ = Append2($1, $3); }
    | SYMBOL                    { $$ = New2(EXPSEQ, $1); }
    ;

/* With a semicolon: EXPSEQ(required, optional), which procedure() takes apart. */
paramlist
    : params
    | params SEMICSY optparams  { $$ = New3(EXPSEQ, $1, $3); }
    | SEMICSY optparams         { $$ = New3(EXPSEQ, null, $2); }
    | %empty                    { $$ = null; }
    ;

params
    : params COMMASY param {
            if (!isparam($3)) SYNTAXERROR("parameter is not a symbol or symbol:type");
            $$ = Append2($1, $3);
        }
    | param {
            if (!isparam($1)) SYNTAXERROR("parameter is not a symbol or symbol:type");
            $$ = New2(EXPSEQ, $1);
        }
    ;

optparams
    : pexprseq                  { $$ = asexpseq($1); }
    | %empty                    { $$ = null; }
    ;

pexprseq
    : pexprseq COMMASY param    { $$ = seq($1, $3); }
    | param
    ;

param
    : porexpr COLONSY porexpr   { $$ = New3(COLON, $1, $3); }
    | porexpr
    ;

/* Parameter expressions: the levels of expressions again, without procedures, arrows and
   top-level sequences; a colon after them belongs to the parameter. */
porexpr
    : porexpr ORSY pandexpr     { $$ = New3(OR, $1, $3); }
    | pandexpr
    ;

pandexpr
    : pandexpr ANDSY pnotexpr   { $$ = New3(AND, $1, $3); }
    | pnotexpr
    ;

pnotexpr
    : NOTSY pnotexpr            { $$ = New2(NOT, $2); }
    | prelexpr
    ;

prelexpr
    : pcatexpr RELOP pcatexpr   { $$ = relop($2, $1, $3); }
    | pcatexpr LESSTSY pcatexpr { $$ = New3(LESSTHAN, $1, $3); }
    | pcatexpr GREATSY pcatexpr { $$ = New3(LESSTHAN, $3, $1); }
    | pcatexpr EQSY pcatexpr    { $$ = New3(EQUATION, $1, $3); }
    | pcatexpr
    ;

pcatexpr
    : pcatexpr DOTSY prangeexpr { $$ = New3(CATENATE, $1, $3); }
    | prangeexpr
    ;

prangeexpr
    : psumexpr ELLIPSIS psumexpr { $$ = New3(RANGE, $1, $3); }
    | psumexpr
    ;

psumexpr
    : PLUSSY pprodexpr          { $$ = $2; }
    | MINUSSY pprodexpr         { $$ = NewProd(consm1, $2); }
    | psumexpr PLUSSY pprodexpr { $$ = sum($1, $3); }
    | psumexpr MINUSSY pprodexpr { $$ = sum($1, NewProd(consm1, $3)); }
    | psumexpr SUMSY pprodexpr  { $$ = New4(FUNCTION, $2, $1, $3); }
    | pprodexpr
    ;

pprodexpr
    : pprodexpr PRODSY ppowexpr { $$ = NewProd($1, $3); }
    | pprodexpr DIVIDESY ppowexpr {
            bool zero;
            $$ = divide($1, $3, &zero);
            if (zero) SYNTAXERROR("division by zero");
        }
    | pprodexpr PRODUCTSY ppowexpr { $$ = New4(FUNCTION, $2, $1, $3); }
    | ppowexpr
    ;

ppowexpr
    : pfactexpr POWSY pfactexpr { $$ = New3(POWER, $1, $3); }
    | pfactexpr
    ;

pfactexpr
    : pfactexpr EXCLSY          { $$ = New3(FUNCTION, ININfactorial, $1); }
    | pprimary
    ;

pprimary
    : pnameexpr
    | TEXTSY
    | LPARSY pexprseq RPARSY    { $$ = $2; }
    | VERTBARSY psumexpr VERTBARSY { $$ = New3(FUNCTION, ININabs, $2); }
    | pconstructor
    ;

pconstructor
    : NATURAL
    | LBRACESY optparams RBRACESY { $$ = New2(SET, $2); }
    | LBRACKSY optparams RBRACKSY { $$ = New2(LIST, $2); }
    ;

pnameexpr
    : SYMBOL
    | SUMSY
    | PRODUCTSY
    | pnameexpr LBRACKSY optparams RBRACKSY { $$ = indexed($1, $3); }
    | pprimary LPARSY optparams RPARSY      { $$ = call($1, $3); }
    ;

%%

void yyerror(const char *msg) {
    if (Type_input == 2) userror(msg);
    FILE *out = w_unit;
    // A long line whose newline is still unread is not counted yet.
    int unfinished = Ibuffl > 0 && Ibuff[Ibuffl - 1] != '\n';
    if (Type_input == 0 && !Reading_tty())
        fprintf(out, "on line %ld, ", (long)Yyline + unfinished);
    fprintf(out, "%s:\n", yyeof ? "unexpected end of file" : msg);
    int replaced = 0, last = 0;
    for (int i = 0; i < Ibuffl; i++) {
        int c = (unsigned char)Ibuff[i];
        if ((c < ' ' || c >= 127) && c != '\t' && c != '\n') {
            c = ' ';
            replaced = 1;
        }
        putc(c, out);
        last = c;
    }
    if (Ibuffl == 0 || last != '\n') putc('\n', out);
    for (int i = 0; i < Icharno && i < Ibuffl; i++)
        putc(Ibuff[i] == '\t' ? '\t' : ' ', out);
    fputs("^\n", out);
    if (replaced) fputs("Warning, unprintable characters in input\n", out);
    // The rest of the line is dropped, also what of a long line is still unread; the ";"
    // ends the statement being recovered.
    if (unfinished && Type_input != 2 && R_unit != nullptr) {
        int c;
        while ((c = getc(R_unit)) != EOF && c != '\n') {
        }
        if (c == '\n') Yyline++;
    }
    strcpy(Ibuff, ";\n");
    Ibuffl = 2;
    Icharno = -1;
    Nextch2 = ';';
    if (yyeof) yyeof = 0;
    else nextch = ';';
}

ALGEB ReadStatement() {
    // After "memory exhausted" the rest of the line is gone: the statement is skipped.
    if (yyparse() != 0) return null;
    return parsestat;
}

constexpr int MAXPARSELEN = 140000;

ALGEB LumbraParse(const char *s, int ls) {
    if (ls > MAXPARSELEN - 1) userror("string to parse is too long");
    if (r_unit0 >= MAX_FILES - 1) userror("too many files simultaneously open for reading");
    std::unique_ptr<char[]> buf(new char[(size_t)ls + 3]);
    memcpy(buf.get(), s, (size_t)ls);
    int n = ls;
    if (n == 0 || (buf[n - 1] != ':' && buf[n - 1] != ';')) buf[n++] = ';';
    buf[n++] = '\n';
    buf[n] = 0;

    r_unit0++;
    read_unit &u = read_units[r_unit0];
    u.ibuff = buf.get();
    u.ibuffl = n;
    u.icharno = -1;
    u.type = 2;
    u.nextch2 = (unsigned char)buf[0];
    u.r_unit = nullptr;
    u.yyline = 0;
    nextch = NOREADAHEAD;
    int unit = r_unit0;

    // The statement that called us is still running: parsestat and prtflag are its own.
    struct Restore {
        ALGEB stat;
        int flag, unit;
        explicit Restore(int u) : stat(parsestat), flag(prtflag), unit(u) {}
        ~Restore() {
            if (r_unit0 == unit) Rclose();
            parsestat = stat;
            prtflag = flag;
        }
    } restore(unit);

    std::vector<ALGEB> stats;
    for (;;) {
        yyparse();
        ALGEB st = parsestat;
        if (IDLENGTH(st, CONTROL, 2) && Eq(A(st[1]), 1)) break;
        if (!ISNULL(st)) stats.push_back(st);
    }
    if (stats.empty()) return 0;
    if (stats.size() == 1) return stats[0];
    if (stats.size() > (size_t)MAXOBJLEN - 1) userror("cannot append, structure too long");
    ALGEB result = Newl1((WORD)stats.size() + 1, STATSEQ);
    for (size_t i = 0; i < stats.size(); i++)
        result[i + 1] = W(stats[i]);
    return result;
}
