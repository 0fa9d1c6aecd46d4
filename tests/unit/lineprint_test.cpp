// The printer: precedence, numbers, texts, procedures, records, folding and buffers.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using namespace testkit;

class Printer : public KernelTest {
  protected:
    void SetUp() override {
        lline = 0;
        scrnwidth = 80;
        BreakLongLines = 1;
        EscapedStrings = 0;
        procprint = 0;
        PrintToString = 0;
    }
    void TearDown() override {
        EscapedStrings = 0;
        PrintToString = 0;
        scrnwidth = 80;
        BreakLongLines = 1;
        ININNumberFormat[1] = 0;
        ININDB[1] = 0;
        naminstall("DM")[1] = 0;
        naminstall("DMS")[1] = 0;
    }
};

std::string P(ALGEB x) {
    return Printed(x);
}

std::string Esc(ALGEB x) {
    EscapedStrings = 1;
    std::string s = P(x);
    EscapedStrings = 0;
    return s;
}

ALGEB Obj(WORD type, std::initializer_list<ALGEB> xs) {
    ALGEB s = Seq(xs);
    s[0] = (s[0] & ~MASKID) | type;
    return s;
}
ALGEB Minus(ALGEB x) {
    return New3(PROD, consm1, x);
}
ALGEB Inv(ALGEB x) {
    return New3(POWER, x, consm1);
}
ALGEB Raw(WORD type, WORD v) {
    ALGEB r = Newl1(2, type);
    r[1] = v;
    return r;
}

TEST_F(Printer, SumsProductsAndPowers) {
    ALGEB a = N("a"), b = N("b"), c = N("c"), x = N("x");
    EXPECT_EQ(P(New3(SUM, a, New3(PROD, b, c))), "a+b*c");
    EXPECT_EQ(P(New3(PROD, New3(SUM, a, b), c)), "(a+b)*c");
    // A difference is a sum with a product of -1; the coefficient stays visible.
    EXPECT_EQ(P(New3(SUM, a, Minus(b))), "a-1*b");
    EXPECT_EQ(P(New3(SUM, a, I(-3))), "a-3");
    EXPECT_EQ(P(New4(SUM, I(2), a, I(5))), "2+a+5");
    EXPECT_EQ(P(New3(PROD, a, Inv(b))), "a/b");
    EXPECT_EQ(P(New3(PROD, a, Inv(New3(PROD, b, c)))), "a/(b*c)");
    EXPECT_EQ(P(New3(PROD, a, New3(POWER, b, I(-2)))), "a*b^(-2)");
    EXPECT_EQ(P(Inv(x)), "x^(-1)");
    EXPECT_EQ(P(New3(POWER, x, Minus(a))), "x^(-1*a)");
    EXPECT_EQ(P(New3(POWER, New3(SUM, a, b), I(2))), "(a+b)^2");
    EXPECT_EQ(P(New3(POWER, x, New3(SUM, a, b))), "x^(a+b)");
    EXPECT_EQ(P(New3(PROD, a, New3(SUM, b, c))), "a*(b+c)");
    EXPECT_EQ(P(Minus(x)), "-1*x");
    EXPECT_EQ(prtneg(I(-2), 11), 1);
    EXPECT_EQ(prtneg(I(-2), 12), 0);
    EXPECT_EQ(prtneg(I(2), 0), 0);
    EXPECT_EQ(prtneg(NewNumber(-0.5), 0), 1);
    EXPECT_EQ(prtneg(Minus(x), 9), 1);
    EXPECT_EQ(prtneg(Minus(x), 10), 0);
    EXPECT_EQ(prtneg(New3(PROD, x, consm1), 0), 0);
}

TEST_F(Printer, RelationsAndLogic) {
    ALGEB a = N("a"), b = N("b"), c = N("c");
    EXPECT_EQ(P(New3(EQUATION, New3(EQUATION, a, b), c)), "(a = b) = c");
    EXPECT_EQ(P(New3(EQUATION, a, New3(EQUATION, b, c))), "a = (b = c)");
    EXPECT_EQ(P(New3(INEQUAT, a, b)), "a <> b");
    EXPECT_EQ(P(New3(LESSEQ, a, b)), "a <= b");
    EXPECT_EQ(P(New3(LESSTHAN, New3(SUM, a, b), c)), "a+b < c");
    EXPECT_EQ(P(New3(OR, a, New3(AND, b, c))), "a or b and c");
    EXPECT_EQ(P(New3(AND, New3(OR, a, b), c)), "(a or b) and c");
    EXPECT_EQ(P(New3(AND, New3(AND, a, b), c)), "a and b and c");
    EXPECT_EQ(P(New2(NOT, New3(AND, a, b))), "not (a and b)");
    EXPECT_EQ(P(New2(NOT, New3(EQUATION, a, b))), "not a = b");
    EXPECT_EQ(P(New3(AND, New2(NOT, a), New3(LESSTHAN, b, c))), "not a and b < c");
    EXPECT_EQ(P(New3(RANGE, I(1), New3(SUM, a, I(1)))), "1..a+1");
    EXPECT_EQ(P(New3(RANGE, New3(RANGE, a, b), c)), "(a..b)..c");
    EXPECT_EQ(P(New3(CATENATE, a, b)), "a.b");
    EXPECT_EQ(P(New3(COLON, a, N("integer"))), "a:integer");
    EXPECT_EQ(P(New3(COLON, New3(EQUATION, a, I(2)), b)), "a = 2:b");
}

TEST_F(Printer, CallsAndIndexing) {
    ALGEB f = N("f"), a = N("a"), b = N("b");
    EXPECT_EQ(P(New2(FUNCTION, f)), "f()");
    EXPECT_EQ(P(New4(FUNCTION, f, a, New3(SUM, a, b))), "f(a,a+b)");
    EXPECT_EQ(P(New3(FUNCTION, New3(SUM, f, a), b)), "(f+a)(b)");
    EXPECT_EQ(P(New3(FUNCTION, ININabs, New3(SUM, a, b))), "|a+b|");
    EXPECT_EQ(P(New4(FUNCTION, ININabs, a, b)), "abs(a,b)");
    EXPECT_EQ(P(New4(TABLEREF, a, I(1), I(2))), "a[1,2]");
    EXPECT_EQ(P(New3(TABLEREF, New3(SUM, a, b), I(1))), "(a+b)[1]");
}

TEST_F(Printer, Containers) {
    ALGEB a = N("a"), b = N("b");
    EXPECT_EQ(P(null), "");
    EXPECT_EQ(P(EmptyList), "[]");
    EXPECT_EQ(P(EmptySet), "{}");
    EXPECT_EQ(P(Seq({a, b, I(3)})), "a, b, 3");
    EXPECT_EQ(P(List({I(1), I(2), I(3)})), "[1, 2, 3]");
    EXPECT_EQ(P(List({List({a}), EmptyList})), "[[a], []]");
    EXPECT_EQ(P(New2(SET, Seq({I(1), a}))), "{1,a}");
    // A sequence inside an operator is parenthesised; alone it is not.
    EXPECT_EQ(P(New3(PROD, Seq({a, b}), a)), "(a, b)*a");
    ALGEB ln = Newl1(3, LISTNUM);
    LISTNUMDATA(ln)[0] = 1.5;
    LISTNUMDATA(ln)[1] = -2;
    EXPECT_EQ(P(ln), "[1.5000, -2]");
    EXPECT_EQ(P(Newl1(1, LISTNUM)), "[]");
    EXPECT_EQ(P(New1(STOP)), "quit");
}

TEST_F(Printer, Numbers) {
    EXPECT_EQ(P(I(0)), "0");
    EXPECT_EQ(P(I(-7)), "-7");
    EXPECT_EQ(P(NewNumber(1e22)), "10000000000000000000000");
    EXPECT_EQ(P(NewNumber(1e23)), "9.9999999999999992e+22");
    EXPECT_EQ(P(NewNumber(-1e23)), "-9.9999999999999992e+22");
    EXPECT_EQ(P(NewNumber(0.5)), "0.5000");
    EXPECT_EQ(P(NewNumber(-0.25)), "-0.2500");
    EXPECT_EQ(P(NewNumber(0.1)), "0.10000000");
    EXPECT_EQ(P(NewNumber(0.001)), "0.00100000");
    EXPECT_EQ(P(NewNumber(0.0001)), "0.0001");
    EXPECT_EQ(P(NewNumber(1e-7)), " 1e-07");
    char buf[40];
    PrintToString = buf;
    PrintToi = 0;
    printint(-1234567890123);
    PrintToString = 0;
    EXPECT_EQ(std::string(buf, PrintToi), "-1234567890123");
}

TEST_F(Printer, NumberFormatName) {
    ININNumberFormat[1] = W(Str("%.2f"));
    EXPECT_EQ(P(NewNumber(0.5)), "0.50");
    EXPECT_EQ(P(I(3)), "3.00");
    ININNumberFormat[1] = W(N("<%g>"));
    EXPECT_EQ(P(NewNumber(0.5)), "<0.5>");
    // A format that does not take exactly one double is not handed to the platform.
    ININNumberFormat[1] = W(Str("%s"));
    EXPECT_EQ(P(NewNumber(0.5)), "0.5000");
    ININNumberFormat[1] = W(Str("%g %g"));
    EXPECT_EQ(P(NewNumber(0.5)), "0.5000");
    ININNumberFormat[1] = W(I(5));
    EXPECT_EQ(P(NewNumber(0.5)), "0.5000");
    ININNumberFormat[1] = W(Str("%500.1f"));
    char buf[100];
    PrintToString = buf;
    EXPECT_EQ(ErrorOf([] { sprintnum(1.5); }), "buffer not large enough for printing number");
    EXPECT_EQ(PrintToString, nullptr);
}

TEST_F(Printer, PlainTexts) {
    EXPECT_EQ(P(Str("it's a\\b")), "it's a\\b");
    std::string s199(199, 'x');
    EXPECT_EQ(P(Str(s199)), s199);
    std::string s200;
    for (int i = 0; i < 200; i++)
        s200 += (char)('a' + i % 26);
    EXPECT_EQ(P(Str(s200)), s200.substr(0, 50) + " ..(200).. " + s200.substr(189));
    EXPECT_EQ(P(OneChar[0]), "");
    EXPECT_EQ(P(OneChar['q']), "q");
}

TEST_F(Printer, EscapedTexts) {
    EXPECT_EQ(Esc(Str("it's")), "'it''s'");
    EXPECT_EQ(Esc(Str("a\\b")), "'a\\\\b'");
    EXPECT_EQ(Esc(Str("\a\b\f\n\r\t\v")), "'\\a\\b\\f\\n\\r\\t\\v'");
    EXPECT_EQ(Esc(Str(std::string("\001 ~\177\377", 5))), "'\\001 ~\\177\\377'");
    EXPECT_EQ(Esc(Str(std::string("a\0b", 3))), "'a\\000b'");
    EXPECT_EQ(Esc(OneChar[0]), "''");
    std::string s200(200, 'y');
    EXPECT_EQ(Esc(Str(s200)), "'" + s200 + "'");
    // Sequences are packed so that the text reads back.
    EXPECT_EQ(Esc(List({Str("a"), I(2)})), "['a',2]");
    EXPECT_EQ(Esc(Seq({N("a"), N("b")})), "a,b");
}

TEST_F(Printer, TooLongStrings) {
    std::string big(1400001, 'z');
    ALGEB v = Newl1(3, TEXT);
    v[1] = (WORD)big.size();
    v[2] = W(big.data());
    // The plain rendering abbreviates; the full characters go through prstring.
    EXPECT_EQ(P(v), std::string(50, 'z') + " ..(1400001).. " + std::string(11, 'z'));
    EXPECT_EQ(ErrorOf([&] { prstring(v); }), "string too long to print");
    // Quotes double: 699999 of them escape to 1399998 characters plus two quotes.
    std::string quotes(699999, '\'');
    v[1] = (WORD)quotes.size();
    v[2] = W(quotes.data());
    EXPECT_EQ(ErrorOf([&] { Esc(v); }), "string too long to print");
    v[1] = 699998;
    std::string s = Esc(v);
    EXPECT_EQ(s.substr(s.size() - 3), "...");
}

TEST_F(Printer, DatabaseTexts) {
    static std::string text = "<E><SEQ>ACGT</SEQ></E>";
    WORD words = (WORD)((sizeof(database) + 7) / 8);
    ALGEB db = Newl1(words, DNAFILE);
    database *df = (database *)db;
    df->string = text.data();
    df->TotChars = text.size();
    static UINT offsets[] = {0, (UINT)text.size()};
    df->EntryOffset = offsets;
    df->TotEntries = 1;
    df->TotAA = 4;
    df->type = Str("DNA");
    strcpy(df->FileName, "/data/small.db");
    EXPECT_EQ(P(db), "DNA file(/data/small.db(22), 1 entries, 4 bases)");
    df->PatSwap = 1; // a byte-swapped index is still an index
    EXPECT_EQ(P(db), "DNA file(/data/small.db(22), 1 entries, 4 bases)");
    df->PatSwap = PAT_EMPTY;
    df->type = Str("Peptide");
    EXPECT_EQ(P(db), "Peptide file(/data/small.db(22), no index, 1 entries, 4 aminoacids)");

    ALGEB whole = Newl1(3, TEXT), part = Newl1(3, TEXT);
    whole[1] = (WORD)text.size();
    whole[2] = W(text.data());
    part[1] = 4;
    part[2] = W(text.data() + 8);
    EXPECT_EQ(Esc(whole), "'<E><SEQ>ACGT</SEQ></E>'");
    ININDB[1] = W(db);
    EXPECT_EQ(Esc(whole), "DB[string]");
    // An entry without an AC or ID tag can only be named by positions.
    EXPECT_EQ(Esc(part), "DB[string,9..12]");
    EXPECT_EQ(P(whole), text);
    ALGEB past = Newl1(3, TEXT);
    past[1] = 5;
    past[2] = W(text.data() + text.size() - 2);
    EXPECT_DEATH(
        {
            w_unit = stderr;
            Esc(past);
        },
        "Irrecoverable system error lineprint - bad string");
}

TEST_F(Printer, NamesAndQuotes) {
    EXPECT_EQ(NeedsQuotes(""), 1);
    EXPECT_EQ(NeedsQuotes("minus"), 1);
    EXPECT_EQ(NeedsQuotes("union"), 1);
    EXPECT_EQ(NeedsQuotes("intersect"), 1);
    EXPECT_EQ(NeedsQuotes("1a"), 1);
    EXPECT_EQ(NeedsQuotes("a b"), 1);
    EXPECT_EQ(NeedsQuotes("a-b"), 1);
    EXPECT_EQ(NeedsQuotes("\"a"), 1);
    EXPECT_EQ(NeedsQuotes("\""), 0);
    EXPECT_EQ(NeedsQuotes("\"\""), 0);
    EXPECT_EQ(NeedsQuotes("\"\"\""), 0);
    EXPECT_EQ(NeedsQuotes("_x1"), 0);
    EXPECT_EQ(NeedsQuotes("Intersection"), 0);
    char buf[100];
    PrintToString = buf;
    PrintToi = 0;
    prquotes("it's x");
    prquotes("ok");
    PrintToString = 0;
    EXPECT_EQ(std::string(buf, PrintToi), "'it''s x'ok");
    // Outside a procedure names print as they are.
    EXPECT_EQ(P(New3(SUM, N("my var"), N("union"))), "my var+union");
}

// proc (x, n:integer) -> integer; local y, 'my var'; ... end, built as executable.
ALGEB SampleProc(ALGEB options, ALGEB body) {
    ALGEB params = Seq({N("x"), New3(COLON, N("n"), N("integer"))});
    ALGEB locals = Seq({N("y"), N("my var")});
    return New7(PROC, params, locals, options, Str("adds"), N("integer"), body);
}

TEST_F(Printer, Procedures) {
    ALGEB body = Obj(STATSEQ, {New3(ASSIGN, Raw(LOCAL, 1), New3(SUM, Raw(PARAM, 1), Raw(PARAM, 2))),
                               Raw(LOCAL, 2), Raw(PARAM, -1), Raw(PARAM, 0), Raw(PARAM, -2),
                               Raw(PARAM, 3), New3(FUNCTION, N("a b"), Raw(LOCAL, 7))});
    ALGEB p = SampleProc(Seq({N("numeric")}), body);
    EXPECT_EQ(P(p), "proc (x, n:integer) -> integer; local y, 'my var'; option numeric; "
                    "description adds; y := x+n; 'my var'; args; nargs; procname; args[3]; "
                    "'a b'(loc[7]) end");
    EXPECT_EQ(procprint, nullptr);
    // Out of a procedure the references have no names.
    EXPECT_EQ(P(body), "loc[1] := args[1]+args[2]; loc[2]; args; nargs; procname; args[3]; "
                       "a b(loc[7])");
    p = SampleProc(Seq({N("numeric"), N("zippable")}), Raw(LOCAL, 1));
    EXPECT_EQ(P(p), "proc (x, n:integer) -> integer; local y, 'my var'; options numeric, "
                    "zippable; description adds; y end");
    ALGEB bare = New7(PROC, null, null, null, null, null, null);
    // The empty body still stands between its two blanks.
    EXPECT_EQ(P(bare), "proc ()  end");
    EXPECT_EQ(P(New2(FUNCTION, bare)), "proc ()  end()");
    // As parsed, word 2 still pairs the locals with the globals.
    ALGEB parsed =
        New7(PROC, Seq({N("x")}), Seq({Seq({N("t")}), Seq({N("g")})}), null, null, null, N("t"));
    EXPECT_EQ(P(parsed), "proc (x) local t; t end");
}

TEST_F(Printer, OptionalParameters) {
    ALGEB decl = New3(COLON, New3(EQUATION, N("b"), I(2)), N("integer"));
    ALGEB decl2 = New3(COLON, N("c"), N("string"));
    ALGEB table = Seq({decl, I(2), I(1), decl2, ININNoDefault, I(2)});
    ALGEB p = New8(PROC, Seq({N("a")}), Seq({N("b"), N("c")}), null, null, null,
                   New3(SUM, Raw(LOCAL, 1), Raw(PARAM, 1)), table);
    EXPECT_EQ(P(p), "proc (a ; b = 2:integer, c:string) local b, c; b+a end");
    ALGEB parsed = New8(PROC, null, Seq({Seq({}), null}), null, null, null, null, Seq({decl2}));
    EXPECT_EQ(P(parsed), "proc ( ; c:string)  end");
}

TEST_F(Printer, ArrowsAndLexicalLocals) {
    ALGEB opts = Seq({ININoperator, ININarrow});
    ALGEB sq =
        New7(PROC, Seq({N("x")}), Seq({}), opts, null, null, New3(POWER, Raw(PARAM, 1), I(2)));
    EXPECT_EQ(P(sq), "x -> x^2");
    ALGEB add = New7(PROC, Seq({N("x"), N("y")}), Seq({}), opts, null, null,
                     New3(SUM, Raw(PARAM, 1), Raw(PARAM, 2)));
    EXPECT_EQ(P(add), "(x, y) -> x+y");
    ALGEB one = New7(PROC, null, Seq({}), opts, null, null, I(1));
    EXPECT_EQ(P(one), "() -> 1");
    // proc() local t; f := proc() t end; t end: the inner body reaches t lexically,
    // and after the inner procedure the outer one names its own locals again.
    ALGEB outer = New7(PROC, null, Seq({N("t"), N("f")}), null, null, null, null);
    ALGEB lex = Newl1(3, LOCAL);
    lex[1] = -1;
    lex[2] = W(outer);
    ALGEB inner = New7(PROC, null, Seq({N("u")}), null, null, null, lex);
    outer[6] = W(Obj(STATSEQ, {New3(ASSIGN, Raw(LOCAL, 2), inner), Raw(LOCAL, 1)}));
    EXPECT_EQ(P(outer), "proc () local t, f; f := proc () local u; t end; t end");
    EXPECT_EQ(P(lex), "t");
}

TEST_F(Printer, Statements) {
    ALGEB a = N("a"), b = N("b"), c = N("c"), i = N("i");
    EXPECT_EQ(P(New4(ASSIGN, a, b, I(3))), "a := b := 3");
    EXPECT_EQ(P(New3(ASSIGN, Seq({a, b}), Seq({I(1), I(2)}))), "a, b := 1, 2");
    EXPECT_EQ(P(New3(IF, a, b)), "if a then b fi");
    EXPECT_EQ(P(New4(IF, a, b, c)), "if a then b else c fi");
    EXPECT_EQ(P(New6(IF, a, b, c, I(1), I(2))), "if a then b elif c then 1 else 2 fi");
    ALGEB body = Obj(STATSEQ, {New3(ASSIGN, a, i), New2(FUNCTION, b)});
    EXPECT_EQ(P(New7(FOR, i, I(1), I(1), I(10), ININtrue, body)), "for i to 10 do a := i; b() od");
    EXPECT_EQ(P(New7(FOR, i, I(2), I(3), null, New3(LESSTHAN, i, c), a)),
              "for i from 2 by 3 while i < c do a od");
    EXPECT_EQ(P(New7(FOR, null, I(1), I(1), null, c, a)), " while c do a od");
    EXPECT_EQ(P(New5(FOR, i, List({I(1)}), ININtrue, a)), "for i in [1] do a od");
    EXPECT_EQ(P(New5(FOR, i, b, c, null)), "for i in b while c do  od");
}

ALGEB NewMatch(double sim, WORD o1, WORD o2, INT l1, INT l2, float pam, float var) {
    ALGEB x = Newl1((WORD)((sizeof(Match) + 7) / 8), MATCH);
    Match *m = (Match *)x;
    m->Sim = sim;
    m->Offset1 = o1;
    m->Offset2 = o2;
    m->Length1 = l1;
    m->Length2 = l2;
    m->PamNumber = pam;
    m->PamVariance = var;
    return x;
}

TEST_F(Printer, Matches) {
    EXPECT_EQ(P(NewMatch(0, 10, 20, 0, 0, 0, 0)), "Match(10,20)");
    EXPECT_EQ(P(NewMatch(0, 10, 20, 5, 6, 0, 0)), "Match(0,10,20,5,6)");
    EXPECT_EQ(P(NewMatch(0, 10, 20, 5, 6, 250, 0)), "Match(0,10,20,5,6,250)");
    EXPECT_EQ(P(NewMatch(0, 10, 20, 0, 0, 0.5, 0)), "Match(0,10,20,0,0,0.5)");
    EXPECT_EQ(P(NewMatch(123.45, 10, 20, 5, 6, 250, 0)), "Match(123.5,10,20,5,6,250)");
    EXPECT_EQ(P(NewMatch(12, 10, 20, 5, 6, 0, 0)), "Match(12.0,10,20,5,6,0)");
    EXPECT_EQ(P(NewMatch(-3, 10, 20, 5, 6, 250, 12.5)), "Match(-3.0,10,20,5,6,250,12.5)");
    EXPECT_EQ(P(New3(FUNCTION, N("f"), NewMatch(0, 1, 2, 0, 0, 0, 0))), "f(Match(1,2))");
}

ALGEB NewDayMatrix(double pam, int dim) {
    WORD words = (WORD)((sizeof(DayMatrix) + dim * dim * sizeof(double) + 7) / 8);
    ALGEB x = Newl1(words, DAYMATRIX);
    DayMatrix *dm = (DayMatrix *)x;
    dm->type = Str("Peptide");
    dm->DelCost = null;
    dm->dim = (int16_t)dim;
    dm->PamNumber = pam;
    dm->MaxSim = 14.5;
    for (int i = 0; i < dim * dim; i++)
        dm->Simi[i] = i == 2 ? -5 : i;
    dm->FixedDel = -20;
    dm->IncDel = -1;
    return x;
}

TEST_F(Printer, DayMatrices) {
    ALGEB x = NewDayMatrix(250, 2);
    DayMatrix *dm = (DayMatrix *)x;
    EXPECT_EQ(P(x), "DayMatrix(Peptide, pam=250, Sim: max=14.500, min=-5.000, dim=2, "
                    "del=-20.000-1.000*(k-1))");
    dm->Mapping = N("f");
    dm->DelCost = N("g");
    ALGEB y = NewDayMatrix(0.5, 21);
    ((DayMatrix *)y)->Simi[0] = -7;
    EXPECT_EQ(P(x), "DayMatrix(Peptide, pam=250, Sim: max=14.500, min=-5.000, Mapping=f, dim=2, "
                    "del=g)");
    EXPECT_EQ(P(y), "DayMatrix(Peptide, pam=0.5, Sim: max=14.500, min=-7.000, "
                    "del=-20.000-1.000*(k-1))");

    EXPECT_EQ(Esc(x), "DayMatrix(250)");
    N("DM")[1] = W(x);
    EXPECT_EQ(Esc(NewDayMatrix(250.001, 2)), "DM");
    EXPECT_EQ(Esc(NewDayMatrix(250.01, 2)), "DayMatrix(250.01)");
    N("DM")[1] = W(y);
    N("DMS")[1] = W(List({y, NewDayMatrix(100, 2), NewDayMatrix(250, 2), x}));
    EXPECT_EQ(Esc(x), "DMS[3]");
    // The walk stops at the first element that is not a matrix.
    N("DMS")[1] = W(List({y, I(3), x}));
    EXPECT_EQ(Esc(x), "DayMatrix(250)");
}

TEST_F(Printer, WithoutRendering) {
    ALGEB ctl = New2(CONTROL, cons1);
    EXPECT_EQ(P(ctl), "----unable to print----");
    EXPECT_EQ(P(New3(PROD, N("a"), ctl)), "a*(----unable to print----)");
    ALGEB bucket = Newl1(7, HASH);
    bucket[1] = 5;
    bucket[2] = W(N("a"));
    bucket[3] = 9;
    bucket[4] = W(N("b"));
    ALGEB tab = Newl1(4, HASHTAB);
    tab[2] = W(bucket);
    EXPECT_EQ(P(tab), "[(5)=a,(9)=b]");
    EXPECT_EQ(P(bucket), "----unable to print----");
}

TEST_F(Printer, FoldingAtScreenWidth) {
    UnitCapture out;
    scrnwidth = 10;
    prpart("12345678");
    prpart("ab ");
    prpart("c");
    // A piece that would overrun goes on a fresh line.
    prpart("defghijk");
    prpart("lmn");
    mendline();
    EXPECT_EQ(out.Written(), "12345678ab\ncdefghijk\nlmn\n");
    EXPECT_EQ(lline, 0);
}

TEST_F(Printer, LongPiecesBreakWithBackslash) {
    UnitCapture out;
    scrnwidth = 10;
    prpart("abcdefghijklmnopqrstuvwxy");
    EXPECT_EQ(lline, 7);
    prpart("1234");
    prpart("12345");
    // Nearly at the end of a line, a long piece starts a new one; else it goes on.
    prpart("ABCDEFGHIJK");
    EXPECT_EQ(lline, 2);
    prpart("abcdefghijkl");
    EXPECT_EQ(lline, 5);
    // The last character may take the last column.
    mendline();
    prpart("0123456789012345678");
    EXPECT_EQ(lline, 10);
    EXPECT_EQ(out.Written(), "abcdefghi\\\njklmnopqr\\\nstuvwxy\n123412345\nABCDEFGHI\\\nJK"
                             "abcdefg\\\nhijkl\n012345678\\\n9012345678");
}

TEST_F(Printer, NewlinesAndUnbrokenOutput) {
    UnitCapture out;
    scrnwidth = 10;
    prpart("1234567\n");
    EXPECT_EQ(lline, 0);
    prpart("123456789");
    prpart("x\ny\n");
    EXPECT_EQ(lline, 0);
    BreakLongLines = 0;
    prpart("abcdefghijklmn");
    EXPECT_EQ(lline, 14);
    EXPECT_EQ(out.Written(), "1234567\n123456789\nx\ny\nabcdefghijklmn");
}

TEST_F(Printer, PrintingIntoBuffers) {
    std::vector<char> buf(PRINTBUFSIZE);
    PrintToString = buf.data();
    PrintToi = 139986;
    prpart("0123456789");
    EXPECT_EQ(PrintToi, 139996);
    EXPECT_EQ(PrintToString, buf.data());
    prpart("x");
    EXPECT_EQ(PrintToString, (char *)1);
    EXPECT_EQ(PrintToi, 139999);
    EXPECT_EQ(std::string(buf.data() + 139986), "0123456789...");
    prpart("more");
    EXPECT_EQ(PrintToi, 139999);
    // The newline still goes to the output unit.
    UnitCapture out;
    mendline();
    EXPECT_EQ(out.Written(), "\n");
    PrintToString = 0;

    ALGEB big = Newl1(50001, EXPSEQ);
    for (WORD i = 1; i <= 50000; i++)
        big[i] = W(I(7));
    ALGEB l = New2(LIST, big);
    char *outer = buf.data();
    PrintToString = outer;
    PrintToi = 5;
    std::vector<char> inner(PRINTBUFSIZE);
    int n = PrintIntoBuffer(l, inner.data());
    EXPECT_EQ(n, 139999);
    EXPECT_EQ(std::string(inner.data(), 5), "[7, 7");
    EXPECT_EQ(std::string(inner.data() + n - 9), "7, 7, ...");
    EXPECT_EQ(PrintToString, outer);
    EXPECT_EQ(PrintToi, 5);
    PrintToString = 0;
}

TEST_F(Printer, ErrorInBufferSwitchesStringOutputOff) {
    char outer[10];
    PrintToString = outer;
    ININNumberFormat[1] = W(Str("%500.1f"));
    EXPECT_EQ(ErrorOf([] { P(List({NewNumber(0.5)})); }),
              "buffer not large enough for printing number");
    EXPECT_EQ(PrintToString, nullptr);
}

} // namespace
