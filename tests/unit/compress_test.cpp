// Compressed objects: the nibble codes, the structure table and the decompression cache.
#include <gtest/gtest.h>

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
