// The printer: precedence, numbers, texts, procedures, records, folding and buffers.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using namespace testkit;

class Printer : public KernelTest {
  protected:
    static void Reset() {
        scrnwidth = 80;
        BreakLongLines = 1;
        EscapedStrings = 0;
        PrintToString = 0;
    }
    void SetUp() override {
        lline = 0;
        procprint = 0;
        Reset();
    }
    void TearDown() override {
        Reset();
        ININNumberFormat[1] = 0;
        ININDB[1] = 0;
        naminstall("DM")[1] = 0;
        naminstall("DMS")[1] = 0;
    }
};

std::string P(ALGEB x) { return Printed(x); }

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
ALGEB Minus(ALGEB x) { return New3(PROD, consm1, x); }
ALGEB Inv(ALGEB x) { return New3(POWER, x, consm1); }
ALGEB Raw(WORD type, WORD v) {
    ALGEB r = Newl1(2, type);
    r[1] = v;
    return r;
}

// The transcripts print a+b*c, a-1*b, a-3, a/b, a*(b+c), (a+b)^2 and -1*x.
TEST_F(Printer, SumsProductsAndPowers) {
    ALGEB a = N("a"), b = N("b"), c = N("c"), x = N("x");
    EXPECT_EQ(P(New3(PROD, New3(SUM, a, b), c)), "(a+b)*c");
    EXPECT_EQ(P(New4(SUM, I(2), a, I(5))), "2+a+5");
    EXPECT_EQ(P(New3(PROD, a, Inv(New3(PROD, b, c)))), "a/(b*c)");
    EXPECT_EQ(P(New3(PROD, a, New3(POWER, b, I(-2)))), "a*b^(-2)");
    EXPECT_EQ(P(Inv(x)), "x^(-1)");
    EXPECT_EQ(P(New3(POWER, x, Minus(a))), "x^(-1*a)");
    EXPECT_EQ(P(New3(POWER, x, New3(SUM, a, b))), "x^(a+b)");
}

TEST_F(Printer, Containers) {
    ALGEB a = N("a"), b = N("b");
    EXPECT_EQ(P(null), "");
    EXPECT_EQ(P(New2(SET, Seq({I(1), a}))), "{1,a}");
    // A sequence inside an operator is parenthesised; alone it is not.
    EXPECT_EQ(P(New3(PROD, Seq({a, b}), a)), "(a, b)*a");
    EXPECT_EQ(P(Packed({1.5, -2})), "[1.5000, -2]");
    EXPECT_EQ(P(Packed({})), "[]");
    EXPECT_EQ(P(New1(STOP)), "quit");
}

// The compress and matrices transcripts print 0.5000, 0.10000000 and 0.00100000.
TEST_F(Printer, Numbers) {
    EXPECT_EQ(P(NewNumber(1e22)), "10000000000000000000000");
    EXPECT_EQ(P(NewNumber(1e23)), "9.9999999999999992e+22");
    EXPECT_EQ(P(NewNumber(-1e23)), "-9.9999999999999992e+22");
    EXPECT_EQ(P(NewNumber(-0.25)), "-0.2500");
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

// A byte-swapped index is still an index; a text that runs past the database is a fault.
TEST_F(Printer, DatabaseTexts) {
    static std::string text = "<E><SEQ>ACGT</SEQ></E>";
    ALGEB db = Newl1((WORD)((sizeof(database) + 7) / 8), DNAFILE);
    database *df = (database *)db;
    df->string = text.data();
    df->TotChars = text.size();
    static UINT offsets[] = {0, (UINT)text.size()};
    df->EntryOffset = offsets;
    df->TotEntries = 1;
    df->TotAA = 4;
    df->type = Str("DNA");
    df->PatSwap = 1;
    strcpy(df->FileName, "/data/small.db");
    EXPECT_EQ(P(db), "DNA file(/data/small.db(22), 1 entries, 4 bases)");
    ININDB[1] = W(db);
    ALGEB past = View(text.data() + text.size() - 2, 5);
    EXPECT_DEATH(
        {
            w_unit = stderr;
            Esc(past);
        },
        "Irrecoverable system error lineprint - bad string");
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
    EXPECT_EQ(lline, 0);
    // Long pieces break with a backslash.
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
    EXPECT_EQ(out.Written(), "12345678ab\ncdefghijk\nlmn\n"
                             "abcdefghi\\\njklmnopqr\\\nstuvwxy\n123412345\nABCDEFGHI\\\nJK"
                             "abcdefg\\\nhijkl\n012345678\\\n9012345678");
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

} // namespace
