// Canonical order, set normalisation, stable numeric sorting and appending with spare room.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "sets.h"
#include "testkit.h"

namespace {

using namespace testkit;

class SetsTest : public QuietKernelTest {};

// a comes strictly before b, and b after a.
void ExpectBefore(ALGEB a, ALGEB b) {
    EXPECT_LT(SetComp(a, b), 0);
    EXPECT_GT(SetComp(b, a), 0);
}

TEST_F(SetsTest, StructuresOfOneKindCompareWordByWord) {
    ExpectBefore(New3(FUNCTION, N("f"), I(1)), New3(FUNCTION, N("g"), I(1)));
    ExpectBefore(New3(FUNCTION, N("f"), I(1)), New3(FUNCTION, N("f"), I(2)));
    ExpectBefore(New3(FUNCTION, N("f"), I(1)), New4(FUNCTION, N("f"), I(1), I(-5)));
    ExpectBefore(New4(FUNCTION, N("f"), I(1), I(9)), New3(FUNCTION, N("f"), I(2)));
    ExpectBefore(New3(RANGE, I(1), I(5)), New3(RANGE, I(2), I(3)));
    ALGEB m1 = Newl1(NrALGEBs(1, Match), MATCH), m2 = Newl1(NrALGEBs(1, Match), MATCH);
    ((Match *)m1)->Sim = 1;
    ((Match *)m2)->Sim = 2;
    EXPECT_EQ(ErrorOf([&] { SetComp(m1, m2); }), "sets with other structures not implemented yet");
}

TEST_F(SetsTest, SetNormalSortsAndDropsDuplicatesInPlace) {
    std::mt19937 rng(7);
    std::vector<WORD> values;
    ALGEB seq = Newl1(501, EXPSEQ);
    for (int i = 1; i <= 500; i++) {
        WORD v = (WORD)(rng() % 200);
        values.push_back(v);
        seq[i] = W(I(v));
    }
    ALGEB s = New2(SET, seq);
    EXPECT_EQ(SetNormal(s), s);
    EXPECT_EQ(A(s[1]), seq);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    ASSERT_EQ(LENGTH2(seq), (WORD)values.size() + 1);
    for (size_t i = 0; i < values.size(); i++)
        EXPECT_EQ(A(seq[i + 1]), I(values[i]));
}

TEST_F(SetsTest, NumericSortKeepsEqualElementsInOrder) {
    std::vector<ALGEB> same;
    ALGEB seq = Newl1(41, EXPSEQ);
    for (int i = 1; i <= 40; i++) {
        // Every third element is one of several distinct objects holding 1e10.
        ALGEB x = i % 3 == 0 ? Num(1e10) : I(40 - i);
        if (i % 3 == 0) same.push_back(x);
        seq[i] = W(x);
    }
    ALGEB sorted = LumbraSort(New2(EXPSEQ, New2(LIST, seq)));
    ALGEB e = A(sorted[1]);
    ASSERT_EQ(LENGTH2(e), 41);
    for (WORD i = 2; i <= 40; i++)
        EXPECT_LE(DBL(A(e[i - 1])), DBL(A(e[i])));
    for (size_t k = 0; k < same.size(); k++)
        EXPECT_EQ(A(e[41 - same.size() + k]), same[k]);
}

ALGEB Counting(WORD n) {
    ALGEB s = Newl1(n + 1, EXPSEQ);
    for (WORD i = 1; i <= n; i++)
        s[i] = W(I(i));
    return s;
}

TEST_F(SetsTest, LongObjectsKeepSpareRoomBehindThem) {
    ENVevlstlev = 2;
    ALGEB s = Counting(19); // 20 words: 2 + 8 extra words on the first append
    ALGEB r = Append2(s, I(20));
    ASSERT_EQ(LENGTH2(r), 21);
    EXPECT_EQ(r[21], 9 | GARBAGE); // tag 0: a collection reclaims it
    for (WORD i = 21; i <= 29; i++) {
        ALGEB again = Append2(r, I(i));
        ASSERT_EQ(again, r) << "append " << i << " moved the object";
        ASSERT_EQ(LENGTH2(r), i + 1);
        if (i < 29) {
            EXPECT_EQ(r[i + 1], (29 - i) | GARBAGE);
        }
    }
    ALGEB moved = Append2(r, I(30));
    EXPECT_NE(moved, r);
    ASSERT_EQ(LENGTH2(moved), 31);
    for (WORD i = 1; i <= 30; i++)
        EXPECT_EQ(A(moved[i]), I(i));
    std::vector<ALGEB> blocks = HeapWalk();
    EXPECT_TRUE(std::find(blocks.begin(), blocks.end(), moved + 31) != blocks.end());
}

TEST_F(SetsTest, SpareRoomIsReclaimedAndTheHeapStaysTiled) {
    ENVevlstlev = 2;
    ALGEB holder = N("setsAppended");
    ALGEB r = Counting(40);
    for (WORD i = 41; i <= 300; i++)
        r = Append2(r, I(i));
    holder[1] = W(r);
    WORD L = LENGTH2(r);
    ASSERT_EQ(r[L] & ~MASKLEN, GARBAGE);
    HeapWalk();
    Collect();
    r = A(holder[1]);
    ASSERT_EQ(LENGTH2(r), 301);
    for (WORD i = 1; i <= 300; i++)
        ASSERT_EQ(A(r[i]), I(i));
    EXPECT_TRUE(IsFree(r + 301));
    HeapWalk();
    // Appending after the collection moves the object: its spare room is gone.
    ALGEB after = Append2(r, I(301));
    EXPECT_NE(after, r);
    EXPECT_EQ(A(after[301]), I(301));
    holder[1] = W(after);
    HeapWalk();
}

TEST_F(SetsTest, ShrunkObjectsDoNotReuseTheirSpareRoom) {
    // The words given back behind a shrunk object go to a new neighbour, which appending
    // must leave alone.
    ALGEB r = Append2(Counting(30), I(31));
    WORD L = LENGTH2(r);
    StoreLEN(r, L - 3);
    release(r + L - 3, 3);
    ALGEB neighbour = New3(LIST, I(7), I(8));
    ASSERT_EQ(neighbour, r + L - 3);
    ALGEB grown = Append2(r, I(99));
    EXPECT_NE(grown, r);
    EXPECT_EQ(A(grown[L - 3]), I(99));
    EXPECT_TRUE(IDLENGTH(neighbour, LIST, 3));
    EXPECT_EQ(A(neighbour[2]), I(8));

    // Working storage is a GARBAGE block too, but a tagged one.
    r = Append2(Counting(30), I(31));
    L = LENGTH2(r);
    StoreLEN(r, L - 8);
    release(r + L - 8, 8);
    char *bytes = (char *)WSAlloc(8, __FILE__, __LINE__);
    ASSERT_EQ((ALGEB)bytes, r + L - 8 + 6);
    grown = Append2(r, I(99));
    EXPECT_NE(grown, r);
    WSCheck(__FILE__, __LINE__, 0);
    WSReturn();
    HeapWalk();
}

TEST_F(SetsTest, AppendNDLeavesItsArgumentAlone) {
    ALGEB s = Counting(5);
    ALGEB r = AppendND(s, I(6));
    EXPECT_NE(r, s);
    EXPECT_EQ(LENGTH2(s), 6);
    EXPECT_EQ(LENGTH2(r), 7);
    ALGEB longer = Counting(12);
    ALGEB r2 = AppendND(longer, I(13));
    EXPECT_NE(r2, longer);
    EXPECT_EQ(LENGTH2(longer), 13);
    // The copy has spare room, so appending to it again grows it where it is.
    EXPECT_EQ(AppendND(r2, I(14)), r2);
    EXPECT_EQ(LENGTH2(r2), 15);
    EXPECT_EQ(A(r2[14]), I(14));
    HeapWalk();
}

TEST_F(SetsTest, TextsForCCodeAreTerminated) {
    ALGEB text = CreateString("abcdef");
    const char *chars = STR(text)->t;
    EXPECT_EQ(toCharptrU(text), chars);
    // A view that ends where its text ends shares the terminating NUL; others are copied.
    EXPECT_EQ(toCharptrU(View(chars + 3, 3)), chars + 3);
    const char *copy = toCharptrU(View(chars + 1, 2));
    EXPECT_EQ(copy, GlobalString);
    EXPECT_STREQ(copy, "bc");
    EXPECT_STREQ(toCharptrU(OneChar[255]), "\xff");
    EXPECT_STREQ(toCharptrU(N("nm")), "nm");
    std::string big(GLOBALSTRINGSIZE + 10, 'x');
    ALGEB longtext = CreateString(big.c_str());
    EXPECT_EQ(ErrorOf([&] { toCharptrU(View(STR(longtext)->t, GLOBALSTRINGSIZE)); }),
              "string too long to handle substrings appropriately");
    EXPECT_STREQ(toCharptrU(View(STR(longtext)->t, GLOBALSTRINGSIZE - 1)),
                 big.substr(0, GLOBALSTRINGSIZE - 1).c_str());
    EXPECT_EQ(ErrorOf([] { toCharptr(I(3)); }), "cannot convert to character string");
}

TEST_F(SetsTest, NamesAndIntegersFromObjects) {
    EXPECT_EQ(toNAME(CreateString("setsName")), N("setsName"));
    EXPECT_EQ(toNAME(View("setsNameXYZ", 8)), N("setsName"));
    std::string longest(MAX_NAME_LENGTH - 1, 'n');
    EXPECT_EQ(toNAME(CreateString(longest.c_str())), N(longest.c_str()));
    std::string toolong(MAX_NAME_LENGTH, 'n');
    EXPECT_EQ(ErrorOf([&] { toNAME(CreateString(toolong.c_str())); }),
              "string too long to convert to a name");
    EXPECT_EQ(ErrorOf([] { toNAME(I(1)); }), "unable to convert to a name");

    EXPECT_EQ(toInteger(I(-1073741824)), -1073741824);
    EXPECT_EQ(toInteger(Num(2147483647.0)), 2147483647);
    EXPECT_EQ(toInteger(Num(-2147483647.0)), -2147483647);
    EXPECT_EQ(ErrorOf([] { toInteger(Num(2147483648.0)); }), "integer too large in context");
    EXPECT_EQ(ErrorOf([] { toInteger(Num(-2147483648.0)); }), "integer too large in context");
    EXPECT_EQ(ErrorOf([] { toInteger(Num(2.5)); }), "cannot convert to integer");
    EXPECT_EQ(ErrorOf([] { toInteger(N("x")); }), "cannot convert to integer");
}

} // namespace
