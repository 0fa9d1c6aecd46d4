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

// Integers take the narrowest form; reals a single when it is exact, else a double.
TEST_F(Compress, NumberCodes) {
    const std::pair<ALGEB, const char *> cases[] = {
        {MKIMM(0), "50"},
        {MKIMM(15), "5f"},
        {MKIMM(16), "610"},
        {MKIMM(-1), "6ff"},
        {MKIMM(-128), "680"},
        {MKIMM(127), "67f"},
        {MKIMM(128), "7080"},
        {MKIMM(2047), "77ff"},
        {MKIMM(-2048), "7800"},
        {MKIMM(2048), "80800"},
        {MKIMM(-32769), "9f7fff"},
        {MKIMM(-524289), "af7ffff"},
        {Newint(2147483647), "b7fffffff"},
        {Num(-2147483648.0), "b80000000"},
        {Num(0.5), "e3f000000"},
        {Num(-2.5), "ec0200000"},
        {Num(0.1), "f3fb999999999999a"},
        {Num(1e300), "f7e37e43c8800759c"},
        // An integral number too large for 32 bits is a real.
        {Num(4294967296.0), "e4f800000"},
    };
    for (auto [x, codes] : cases)
        EXPECT_EQ(Codes(x), codes) << DBL(x);
    // Outside the exponent range of a single, or not exact in one: a double.
    for (double d : {1e-50, 1e40})
        EXPECT_EQ(Codes(Num(d)).substr(0, 1), "f") << d;
    EXPECT_EQ(ID2(decompress(compress(Newint(2147483647)))), NUMBER);
}

TEST_F(Compress, ListsSetsAndPackedLists) {
    EXPECT_EQ(Codes(EmptyList), "050");
    ALGEB empty = compress(EmptyList);
    EXPECT_EQ(LENGTH2(empty), 2); // the nibbles 0 5 0 and one 0 to fill the byte
    const unsigned char *bytes = (const unsigned char *)(empty + 1);
    EXPECT_EQ(bytes[0], 0x05);
    EXPECT_EQ(bytes[1], 0x00);

    EXPECT_EQ(Codes(List({MKIMM(1), MKIMM(2)})), "0525152");
    EXPECT_EQ(Codes(Seq({MKIMM(1), MKIMM(2)})), "5152"); // a sequence has no token

    EXPECT_EQ(Codes(New2(SET, Seq({MKIMM(3), MKIMM(1), MKIMM(3)}))), "253535153");
    ALGEB ln = Packed({1, 0.5, 0.1});
    EXPECT_EQ(Codes(ln), "15351e3f000000f3fb999999999999a");
    ALGEB l = decompress(compress(ln));
    ASSERT_EQ(ID(l), LISTNUM);
    EXPECT_EQ(std::vector<double>(LISTNUMDATA(l), LISTNUMDATA(l) + LISTNUMLEN(l)),
              (std::vector<double>{1, 0.5, 0.1}));
}

TEST_F(Compress, TextsEndWithAZeroByte) {
    EXPECT_EQ(Codes(CreateString("AB")), "4414200");
    // The object holds 16 nibbles per word after its header.
    std::string t(10000, 'x');
    ALGEB c = compress(CreateString(t.c_str()));
    EXPECT_EQ(LENGTH2(c), 1252); // 20003 nibbles and a filler
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

// Unknown codes, a count larger than what follows, and a stream running off the end.
TEST_F(Compress, CorruptObjectsAreRefused) {
    const std::vector<unsigned char> cases[] = {{0xc0},
                                                {0xd0},
                                                {0x3f, 0xf0},
                                                {0x05, 0xf0},
                                                {0x4a, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa}};
    for (auto &bytes : cases) {
        ALGEB c = Newl1(2, COMPRESSED);
        memcpy(c + 1, bytes.data(), bytes.size());
        EXPECT_EQ(ErrorOf([&] { decompress(c); }), "corrputed compressed structure") << bytes[0];
    }
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

// Fills the structure table of the process.
TEST_F(Compress, StructureTableHoldsAtMost256Structures) {
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
