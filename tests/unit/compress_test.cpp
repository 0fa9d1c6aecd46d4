// Compressed objects (the nibble codes, the structure table, the decompression cache) and the
// decomposition of objects into structures and back.
#include <gtest/gtest.h>

#include "assemble.h"
#include "compress.h"
#include "eval.h"
#include "testkit.h"

namespace {

using namespace testkit;

// Entries a test adds to the structure table go again afterwards, so that every test finds
// the same room in it.
class Compress : public QuietKernelTest {
  protected:
    ~Compress() override { TotStructureNames = savedstructures; }
    int savedstructures = TotStructureNames;
};

// The nibbles written for an object, in hexadecimal.
std::string Codes(ALGEB x) {
    static unsigned char buf[MAXCOMPRSTRLEN];
    int n = 0;
    compressR(x, buf, &n);
    std::string s;
    for (int i = 0; i < n; i++)
        s += "0123456789abcdef"[buf[i]];
    return s;
}

TEST_F(Compress, IntegersTakeTheNarrowestForm) {
    EXPECT_EQ(Codes(MKIMM(0)), "50");
    EXPECT_EQ(Codes(MKIMM(15)), "5f");
    EXPECT_EQ(Codes(MKIMM(16)), "610");
    EXPECT_EQ(Codes(MKIMM(-1)), "6ff");
    EXPECT_EQ(Codes(MKIMM(-128)), "680");
    EXPECT_EQ(Codes(MKIMM(127)), "67f");
    EXPECT_EQ(Codes(MKIMM(128)), "7080");
    EXPECT_EQ(Codes(MKIMM(2047)), "77ff");
    EXPECT_EQ(Codes(MKIMM(-2048)), "7800");
    EXPECT_EQ(Codes(MKIMM(2048)), "80800");
    EXPECT_EQ(Codes(MKIMM(-32769)), "9f7fff");
    EXPECT_EQ(Codes(MKIMM(-524289)), "af7ffff");
    EXPECT_EQ(Codes(Newint(2147483647)), "b7fffffff");
    EXPECT_EQ(Codes(Num(-2147483648.0)), "b80000000");
}

TEST_F(Compress, IntegersComeBackWithTheirSign) {
    for (WORD v : {0L, 15L, 16L, -1L, -8L, 2047L, -2048L, 2048L, -32768L, 32767L, 524287L,
                   -8388608L, 8388607L, 1073741823L, -1073741824L, 2147483647L, -2147483648L})
        EXPECT_EQ(DBL(decompress(compress(Newint(v)))), (double)v) << v;
    // Beyond the immediate range the value is a boxed number again.
    ALGEB big = decompress(compress(Newint(2147483647)));
    EXPECT_EQ(ID2(big), NUMBER);
}

TEST_F(Compress, RealsUseSinglePrecisionWhenExact) {
    EXPECT_EQ(Codes(Num(0.5)), "e3f000000");
    EXPECT_EQ(Codes(Num(-2.5)), "ec0200000");
    EXPECT_EQ(Codes(Num(0.1)), "f3fb999999999999a");
    // Outside the exponent range of a single, or not exact in one: a double.
    EXPECT_EQ(Codes(Num(1e300)), "f7e37e43c8800759c");
    EXPECT_EQ(Codes(Num(1e-50)).substr(0, 1), "f");
    EXPECT_EQ(Codes(Num(1e40)).substr(0, 1), "f");
    // An integral number too large for 32 bits is a real.
    EXPECT_EQ(Codes(Num(4294967296.0)), "e4f800000");
    for (double d : {0.5, 0.1, 1e300, 1e-50, -3.75, 4294967296.0, 1e40})
        EXPECT_EQ(DBL(decompress(compress(Num(d)))), d) << d;
}

TEST_F(Compress, ListsSetsAndPackedLists) {
    EXPECT_EQ(Codes(EmptyList), "050");
    ALGEB empty = compress(EmptyList);
    EXPECT_EQ(LENGTH2(empty), 2); // the nibbles 0 5 0 and one 0 to fill the byte
    const unsigned char *bytes = (const unsigned char *)(empty + 1);
    EXPECT_EQ(bytes[0], 0x05);
    EXPECT_EQ(bytes[1], 0x00);
    ALGEB back = decompress(empty);
    EXPECT_EQ(ID(back), LIST);
    EXPECT_TRUE(ISNULL(A(back[1])));

    EXPECT_EQ(Codes(List({MKIMM(1), MKIMM(2)})), "0525152");
    EXPECT_EQ(Codes(Seq({MKIMM(1), MKIMM(2)})), "5152"); // a sequence has no token

    // A set comes back in the order it was stored, duplicates included.
    ALGEB set = New2(SET, Seq({MKIMM(3), MKIMM(1), MKIMM(3)}));
    EXPECT_EQ(Codes(set), "253535153");
    ALGEB s = decompress(compress(set));
    EXPECT_EQ(ID(s), SET);
    EXPECT_EQ(Printed(s), "{3,1,3}");

    ALGEB ln = Newl1(4, LISTNUM);
    LISTNUMDATA(ln)[0] = 1;
    LISTNUMDATA(ln)[1] = 0.5;
    LISTNUMDATA(ln)[2] = 0.1;
    EXPECT_EQ(Codes(ln), "15351e3f000000f3fb999999999999a");
    ALGEB l = decompress(compress(ln));
    ASSERT_EQ(ID(l), LISTNUM);
    ASSERT_EQ(LISTNUMLEN(l), 3);
    EXPECT_EQ(LISTNUMDATA(l)[0], 1.0);
    EXPECT_EQ(LISTNUMDATA(l)[1], 0.5);
    EXPECT_EQ(LISTNUMDATA(l)[2], 0.1);
}

TEST_F(Compress, TextsEndWithAZeroByte) {
    EXPECT_EQ(Codes(CreateString("AB")), "4414200");
    EXPECT_EQ(decompress(compress(OneChar[0])), OneChar[0]);
    EXPECT_EQ(decompress(compress(OneChar['q'])), OneChar['q']);
    // The object holds 16 nibbles per word after its header.
    std::string t(10000, 'x');
    t[0] = 'a';
    t[9999] = 'z';
    ALGEB c = compress(CreateString(t.c_str()));
    EXPECT_EQ(LENGTH2(c), 1252); // 20003 nibbles and a filler
    ALGEB back = decompress(c);
    ASSERT_EQ(ID(back), TEXT);
    EXPECT_EQ(std::string(STR(back)->t, (size_t)STR(back)->length), t);
    // One character more is still packed, but not rebuilt.
    ALGEB longer = compress(CreateString((t + "!").c_str()));
    EXPECT_EQ(ErrorOf([&] { decompress(longer); }), "string too long");
}

TEST_F(Compress, StructuresShareOneTableEntryPerNameAndLength) {
    int before = TotStructureNames;
    ALGEB a = Call("cmpPoint", {MKIMM(1), MKIMM(2)});
    ALGEB b = Call("cmpPoint", {MKIMM(3), MKIMM(4)});
    ALGEB c = Call("cmpPoint", {MKIMM(5)});
    ALGEB ca = compress(a), cb = compress(b), cc = compress(c);
    EXPECT_EQ(TotStructureNames, before + 2);
    std::string na = Codes(a), nb = Codes(b), nc = Codes(c);
    EXPECT_EQ(na.substr(0, 1), "3");
    EXPECT_EQ(na.substr(1, 2), nb.substr(1, 2));
    EXPECT_NE(na.substr(1, 2), nc.substr(1, 2));
    EXPECT_EQ(na.substr(3), "5152");
    EXPECT_TRUE(Equal(decompress(ca), a, 1));
    EXPECT_TRUE(Equal(decompress(cc), c, 1));
    EXPECT_EQ(A(decompress(cb)[1]), naminstall("cmpPoint"));
}

TEST_F(Compress, OnlyNumbersTextsListsSetsAndStructuresArePacked) {
    int before = TotStructureNames;
    ALGEB x = naminstall("cmpUnassigned");
    EXPECT_EQ(ErrorOf([&] { compress(List({MKIMM(1), x})); }), "this part cannot be compressed");
    EXPECT_EQ(ErrorOf([&] { compress(New3(SUM, x, MKIMM(1))); }), "this part cannot be compressed");
    // The structure met before the failure stays in the table.
    EXPECT_EQ(ErrorOf([&] { compress(Call("cmpFailing", {x})); }),
              "this part cannot be compressed");
    EXPECT_EQ(TotStructureNames, before + 1);
}

TEST_F(Compress, CorruptObjectsAreRefused) {
    auto packed = [](std::initializer_list<unsigned char> bytes) {
        ALGEB c = Newl1(2, COMPRESSED);
        memcpy(c + 1, bytes.begin(), bytes.size());
        return c;
    };
    EXPECT_EQ(ErrorOf([&] { decompress(packed({0xc0})); }), "corrputed compressed structure");
    EXPECT_EQ(ErrorOf([&] { decompress(packed({0xd0})); }), "corrputed compressed structure");
    EXPECT_EQ(ErrorOf([&] { decompress(packed({0x3f, 0xf0})); }), "corrputed compressed structure");
    // A count larger than what follows, and a stream running off the end.
    EXPECT_EQ(ErrorOf([&] { decompress(packed({0x05, 0xf0})); }), "corrputed compressed structure");
    EXPECT_EQ(ErrorOf([&] {
                  decompress(packed({0x4a, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa}));
              }),
              "corrputed compressed structure");
}

TEST_F(Compress, OtherArgumentsPassThrough) {
    ALGEB c = compress(List({MKIMM(1)}));
    EXPECT_EQ(compress(c), c);
    EXPECT_EQ(decompress(MKIMM(7)), MKIMM(7));
    ALGEB l = List({MKIMM(1)});
    EXPECT_EQ(decompress(l), l);
}

TEST_F(Compress, TheCacheGivesTheSameObjectUntilACollection) {
    ALGEB c = compress(List({MKIMM(1), CreateString("abc")}));
    int hits = Compress_hits, fresh = Compress_empty + Compress_misses;
    ALGEB first = decompress(c);
    EXPECT_EQ(Compress_empty + Compress_misses, fresh + 1);
    EXPECT_EQ(decompress(c), first);
    EXPECT_EQ(Compress_hits, hits + 1);
    ALGEB holder = naminstall("cmpHeld");
    holder[1] = W(c);
    Collect();
    ALGEB again = decompress(A(holder[1]));
    EXPECT_EQ(Printed(again), "[1, abc]");
    EXPECT_EQ(Compress_empty + Compress_misses, fresh + 2);
}

TEST_F(Compress, CompressedObjectsPrintAsTheirContents) {
    ALGEB c = compress(List({MKIMM(1), Num(2.5), CreateString("xy")}));
    EXPECT_EQ(Printed(c), "[1, 2.5000, xy]");
    EXPECT_EQ(Printed(List({c, c})), "[[1, 2.5000, xy], [1, 2.5000, xy]]");
    EXPECT_EQ(Printed(compress(Call("cmpShown", {MKIMM(3)}))), "cmpShown(3)");
}

TEST_F(Compress, PackedObjectsAndStructureNamesSurviveCollections) {
    ENVevlstlev = 2;
    // The only reference to this name is the structure table.
    ALGEB c = compress(Call("cmpOnlyInTheTable", {List({MKIMM(1), CreateString("text")})}));
    ALGEB holder = naminstall("cmpKept");
    holder[1] = W(c);
    Collect();
    Collect();
    EXPECT_NE(srchname("cmpOnlyInTheTable"), (ALGEB *)NOTFOUND);
    ALGEB back = decompress(A(holder[1]));
    EXPECT_EQ(A(back[1]), naminstall("cmpOnlyInTheTable"));
    EXPECT_EQ(Printed(back), "cmpOnlyInTheTable([1, text])");
}

// ---------------------------------------------------------------------------

class Assemble : public Compress {};

// Word-by-word equality of two trees; statements included, which Equal does not compare.
bool SameTree(ALGEB x, ALGEB y) {
    if (x == y) return true;
    if (IMMINT(x) || IMMINT(y) || ID2(x) != ID2(y) || LENGTH2(x) != LENGTH2(y)) return false;
    switch (CASE_ID2(x)) {
    case NUMBER_CASE:
    case TEXT_CASE: return Equal(x, y, 0);
    case NAME_CASE: return false;
    case LOCAL_CASE:
    case PARAM_CASE: return x[1] == y[1];
    default:
        for (WORD i = 1; i < LENGTH2(x); i++)
            if (!SameTree(A(x[i]), A(y[i]))) return false;
        return true;
    }
}

TEST_F(Assemble, ExpressionsAreTakenApartByClass) {
    EXPECT_EQ(Printed(disassemble(Parse("a+2*b^3-c/d"))),
              "plus(a,times(2,power(b,3)),times(-1,c,power(d,-1)))");
    EXPECT_EQ(Printed(disassemble(Parse("f(x, [1, {y}], t[i, j].k)"))),
              "structure(f,x,list(1,set(y)),catenate(select(t,i,j),k))");
    EXPECT_EQ(Printed(disassemble(Parse("a < b and not c = d or a <= b and a <> b"))),
              "Or(And(less(a,b),Not(equal(c,d))),And(lessequal(a,b),unequal(a,b)))");
    EXPECT_EQ(Printed(disassemble(New3(COLON, naminstall("x"), ININinteger))), "colon(x,integer)");
    EXPECT_EQ(ErrorOf([&] { disassemble(compress(MKIMM(1))); }), "cannot disassemble object");
}

TEST_F(Assemble, RoundTripsRebuildExpressions) {
    for (const char *e : {"a+2*b^3-c/d", "f(x, [1, {y}], 'text', 2.5)", "t[i, j].k", "-x^(-2)",
                          "a < b and not c = d or a <= b", "x .. y", "g()"}) {
        ALGEB x = Parse(e);
        ALGEB y = assemble(disassemble(x));
        EXPECT_TRUE(SameTree(y, x)) << e;
        EXPECT_EQ(Printed(y), Printed(x)) << e;
    }
}

TEST_F(Assemble, RoundTripsRebuildStatementsWithBreakAndNext) {
    ALGEB s = Parse("for i to 5 do if i = 3 then break elif i = 1 then next fi; s := i od");
    ALGEB d = disassemble(s);
    ASSERT_NE(StringBreak, nullptr);
    ASSERT_NE(StringNext, nullptr);
    EXPECT_EQ(ID(StringBreak), TEXT);
    // The statement names become texts, and back.
    ALGEB ifpart = A(A(d[7])[2]);
    EXPECT_EQ(A(ifpart[3]), StringBreak);
    EXPECT_EQ(A(ifpart[5]), StringNext);
    ALGEB r = assemble(d);
    EXPECT_EQ(Printed(r), Printed(s));
    EXPECT_EQ(A(A(A(r[6])[1])[2]), ININbreak);
    for (const char *t : {"x := y := 2", "quit", "for z in [1, 2] while z < 2 do z od",
                          "if a then b else c fi", "a; b; c"}) {
        ALGEB x = Parse(t);
        ALGEB y = assemble(disassemble(x));
        EXPECT_TRUE(SameTree(y, x)) << t;
        EXPECT_EQ(Printed(y), Printed(x)) << t;
    }
}

TEST_F(Assemble, RoundTripsRebuildProcedures) {
    ALGEB p = eval(Parse("proc(n:integer, a) local i, t; description 'sum'; t := 0; "
                         "for i to n do t := t + i od; if nargs > 1 then t := t * a fi; t end"));
    ASSERT_EQ(ID(p), PROC);
    ALGEB d = disassemble(p);
    EXPECT_EQ(A(d[1]), ININprocedure);
    EXPECT_EQ(LENGTH2(d), LENGTH2(p) + 1);
    ALGEB q = assemble(d);
    ASSERT_EQ(ID(q), PROC);
    EXPECT_NE(q, p);
    EXPECT_TRUE(SameTree(q, p));
    EXPECT_EQ(Printed(q), Printed(p));
    // Unconverted, as parsed, with the locals and globals still paired.
    ALGEB parsed = Parse("proc(x) local y; global z; y := x; z := y end");
    EXPECT_TRUE(SameTree(assemble(disassemble(parsed)), parsed));
}

TEST_F(Assemble, ParametersAndLocalsKeepTheirIndex) {
    EXPECT_EQ(Printed(disassemble(eval(Parse("proc(a, b) local c; c := b; nargs, args, c end")))),
              "procedure(expseq(a,b),expseq(c),expseq(),expseq(),expseq(),StatSeq(Assign("
              "Local(1),Param(2)),expseq(Param(0),Param(-1),Local(1))))");
    ALGEB l = assemble(Call("Local", {MKIMM(3)}));
    EXPECT_TRUE(IDLENGTH(l, LOCAL, 2));
    EXPECT_EQ(l[1], 3);
    ALGEB p = assemble(Call("Param", {Num(1.6)}));
    EXPECT_TRUE(IDLENGTH(p, PARAM, 2));
    EXPECT_EQ(p[1], 2);
    EXPECT_EQ(assemble(Call("Param", {MKIMM(-2)}))[1], -2);
    EXPECT_EQ(ErrorOf([&] { assemble(Call("Local", {MKIMM(-1)})); }),
              "lexical scoped locals cannot be assembled");
    EXPECT_EQ(ErrorOf([&] { assemble(Call("Local", {})); }),
              "lexical scoped locals cannot be assembled");
    EXPECT_EQ(ErrorOf([&] { assemble(Call("Param", {})); }), "param must have one argument");
}

TEST_F(Assemble, ConstantsAreFolded) {
    ALGEB x = naminstall("x"), y = naminstall("y");
    auto P = [](ALGEB e) { return Printed(assemble(e)); };
    EXPECT_EQ(P(Call("plus", {MKIMM(1), MKIMM(2), x})), "3+x");
    EXPECT_EQ(P(Call("plus", {x})), "x");
    EXPECT_EQ(assemble(Call("plus", {})), MKIMM(0));
    EXPECT_EQ(P(Call("plus", {x, MKIMM(0)})), "x");
    EXPECT_EQ(P(Call("plus", {x, Num(1.5)})), "x+1.5000"); // one constant stays in place
    EXPECT_EQ(assemble(Call("plus", {MKIMM(2), MKIMM(-2)})), MKIMM(0));
    EXPECT_EQ(assemble(Call("times", {MKIMM(2), MKIMM(3)})), MKIMM(6));
    EXPECT_EQ(assemble(Call("times", {})), MKIMM(1));
    EXPECT_EQ(assemble(Call("times", {MKIMM(1), x})), x);
    EXPECT_EQ(P(Call("times", {MKIMM(2), x, MKIMM(3), y})), "6*x*y");
    EXPECT_EQ(P(Call("times", {x, MKIMM(2), y})), "x*2*y");
    EXPECT_EQ(assemble(Call("power", {MKIMM(2), MKIMM(10)})), MKIMM(1024));
    EXPECT_EQ(DBL(assemble(Call("power", {MKIMM(2), Num(0.5)}))), std::sqrt(2.0));
    EXPECT_EQ(assemble(Call("power", {x, MKIMM(1)})), x);
    EXPECT_EQ(P(Call("power", {x, MKIMM(2)})), "x^2");
    EXPECT_EQ(P(Call("power", {MKIMM(1), x})), "1^x");
    // Nested structures are folded from the inside out.
    EXPECT_EQ(P(Call("plus", {Call("times", {MKIMM(2), MKIMM(3)}), MKIMM(4), x})), "10+x");
}

TEST_F(Assemble, ListsSetsStructuresAndMatches) {
    EXPECT_EQ(Printed(assemble(Call("set", {MKIMM(2), MKIMM(1), MKIMM(2)}))), "{2,1,2}");
    EXPECT_EQ(Printed(assemble(Call("list", {}))), "[]");
    EXPECT_EQ(Printed(assemble(Call("structure", {naminstall("f"), MKIMM(1)}))), "f(1)");
    ALGEB m = assemble(Call(
        "Match", {Num(12.5), MKIMM(3), MKIMM(40), Num(100.5), MKIMM(25), MKIMM(10), Num(11.2)}));
    ASSERT_EQ(ID(m), MATCH);
    Match *r = (Match *)m;
    EXPECT_EQ(r->Sim, 12.5);
    EXPECT_EQ(r->Offset1, 3);
    EXPECT_EQ(r->Offset2, 40);
    EXPECT_EQ(r->PamNumber, 100.5f);
    EXPECT_EQ(r->PamVariance, 25.0f);
    EXPECT_EQ(r->Length1, 10);
    EXPECT_EQ(r->Length2, 11);
    EXPECT_EQ(Printed(disassemble(m)), "Match(12.5000,3,40,100.5000,25,10,11)");
}

TEST_F(Assemble, MalformedStructuresAreRefused) {
    ALGEB a = naminstall("a");
    EXPECT_EQ(ErrorOf([&] { assemble(Call("equal", {a})); }),
              "equal should have 2 arguments instead of 1");
    EXPECT_EQ(ErrorOf([&] { assemble(Call("Stop", {a})); }),
              "Stop should have 0 arguments instead of 1");
    EXPECT_EQ(ErrorOf([&] {
                  assemble(Call("procedure", {a, a, a, a, a}));
              }),
              "procedure should have 6-7 arguments instead of 5");
    EXPECT_EQ(ErrorOf([&] { assemble(Call("Match", {a})); }), "Match should have 7 arguments");
    EXPECT_EQ(ErrorOf([&] { assemble(Call("cmpNoSuchClass", {a})); }),
              "the structure cmpNoSuchClass is invalid for assemble");
    EXPECT_EQ(ErrorOf([&] { assemble(List({a})); }), "is an invalid argument for assemble");
}

// Fills the structure table of the process.
class StructureTable : public Compress {};

TEST_F(StructureTable, HoldsAtMost256Structures) {
    char name[40];
    while (TotStructureNames < MAXSTRUCTURENAMES) {
        snprintf(name, sizeof name, "cmpFill%d", TotStructureNames);
        compress(Call(name, {}));
    }
    EXPECT_EQ(ErrorOf([&] { compress(Call("cmpOneTooMany", {})); }),
              "too many structure names for compress");
    // Pairs already in the table still work.
    EXPECT_EQ(Printed(decompress(compress(Call("cmpFill100", {})))), "cmpFill100()");
}

} // namespace
