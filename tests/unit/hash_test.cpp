// Unique names, hash buckets and the structural hash.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using namespace testkit;

class HashTest : public KernelTest {};

ALGEB ListOf(std::initializer_list<int> xs) {
    ALGEB s = Newl1((WORD)xs.size() + 1, EXPSEQ);
    WORD i = 1;
    for (int x : xs)
        s[i++] = W(MKIMM(x));
    return New2(LIST, s);
}

ALGEB Counting(int n) {
    ALGEB s = Newl1(n + 1, EXPSEQ);
    for (int i = 1; i <= n; i++)
        s[i] = W(MKIMM(i));
    return New2(LIST, s);
}

ALGEB Doubles(int n) {
    ALGEB x = Newl1(n + 1, LISTNUM);
    for (int i = 0; i < n; i++)
        LISTNUMDATA(x)[i] = 0.5 + i;
    return x;
}

TEST_F(HashTest, NaminstallMakesOneNamePerText) {
    ALGEB a = naminstall("alignment");
    EXPECT_EQ(naminstall("alignment"), a);
    EXPECT_NE(naminstall("alignments"), a);
    EXPECT_EQ(ID(a), NAME);
    EXPECT_STREQ(NAMETEXT(a), "alignment");
    EXPECT_EQ(a[1], 0) << "a new name is unassigned";
    ALGEB *p = srchname("alignment");
    ASSERT_NE(p, (ALGEB *)NOTFOUND);
    EXPECT_EQ(p[1], a);
    EXPECT_EQ(W(p[0]), (WORD)hashstring("alignment"));
    EXPECT_EQ(srchname("never installed"), (ALGEB *)NOTFOUND);
    // n/8 + 3 words leave room for the NUL after n characters.
    EXPECT_EQ(LENGTH(naminstall("sevench")), 3);
    EXPECT_EQ(LENGTH(naminstall("eightchr")), 4);
}

TEST_F(HashTest, NamesOfFiveHundredCharactersAreRefused) {
    std::string ok(499, 'x'), bad(500, 'y');
    ALGEB n = naminstall(ok.c_str());
    EXPECT_EQ(NAMETEXT(n), ok);
    EXPECT_EQ(naminstall(ok.c_str()), n);
    EXPECT_EQ(ErrorOf([&] { naminstall(bad.c_str()); }), "name too long");
    EXPECT_EQ(srchname(bad.c_str()), (ALGEB *)NOTFOUND);
}

TEST_F(HashTest, TextsAndNamesHashByTheirCharacters) {
    EXPECT_EQ(hashalg(naminstall("sequence")), hashalg(CreateString("sequence")));
    // A view is hashed by its length, not up to a NUL.
    ALGEB whole = CreateString("sequence");
    ALGEB view = New3(TEXT, A(3), A(STR(whole)->t));
    EXPECT_EQ(hashalg(view), hashalg(CreateString("seq")));
    EXPECT_NE(hashalg(CreateString("")), 0u);

    // Only the first 200 characters take part, but the length always does.
    std::string s(250, 'q'), late = s, early = s;
    late[220] = 'r';
    early[150] = 'r';
    EXPECT_EQ(hashalg(CreateString(s.c_str())), hashalg(CreateString(late.c_str())));
    EXPECT_NE(hashalg(CreateString(s.c_str())), hashalg(CreateString(early.c_str())));
    EXPECT_NE(hashalg(CreateString(s.c_str())), hashalg(CreateString((s + "q").c_str())));
}

TEST_F(HashTest, LongListsAreHashedBySamples) {
    ALGEB a = Counting(16), b = Counting(16), c = Counting(16);
    A(b[1])[16] = W(MKIMM(99)); // the 16th element is not sampled
    A(c[1])[1] = W(MKIMM(99));
    EXPECT_EQ(hashalg(a), hashalg(b));
    EXPECT_NE(hashalg(a), hashalg(c));
    // Short lists hash every element.
    EXPECT_NE(hashalg(ListOf({1, 2, 3})), hashalg(ListOf({1, 2, 4})));
    EXPECT_NE(hashalg(ListOf({1, 2, 3})), hashalg(ListOf({0, 2, 3})));
    EXPECT_NE(hashalg(ListOf({1, 2})), hashalg(New2(SET, A(ListOf({1, 2})[1]))));
}

// A list that contains itself, or one nested deeper than the stack could follow, still hashes;
// equal structures hash alike however deep they are.
TEST_F(HashTest, HashingLooksAtABoundedPartOfAnObject) {
    ALGEB self = List({I(1), I(2)});
    A(self[1])[1] = W(self);
    EXPECT_EQ(hashalg(self), hashalg(self));
    ALGEB a = EmptyList, b = EmptyList;
    for (int i = 0; i < 1000000; i++) {
        a = List({a, I(i)});
        b = List({b, I(i)});
    }
    EXPECT_EQ(hashalg(a), hashalg(b));
    EXPECT_NE(hashalg(a), hashalg(A(A(a[1])[1])));
}

TEST_F(HashTest, ListnumsHashEveryDoubleUpToFifteen) {
    for (int i : {0, 7, 14}) {
        ALGEB x = Doubles(15);
        LISTNUMDATA(x)[i] = -3;
        EXPECT_NE(hashalg(x), hashalg(Doubles(15))) << "double " << i;
    }
    // Sixteen doubles: samples at 1..15, so the first one does not count.
    ALGEB x = Doubles(16), y = Doubles(16);
    LISTNUMDATA(x)[0] = -3;
    LISTNUMDATA(y)[15] = -3;
    EXPECT_EQ(hashalg(x), hashalg(Doubles(16)));
    EXPECT_NE(hashalg(y), hashalg(Doubles(16)));
    EXPECT_NE(hashalg(Doubles(16)), hashalg(Doubles(17)));
}

TEST_F(HashTest, RawWordsAreNotFollowed) {
    // A PARAM holds a raw number; 2 is not the address of an object.
    ALGEB p2 = New2(PARAM, A(2)), q2 = New2(PARAM, A(2)), p4 = New2(PARAM, A(4));
    EXPECT_EQ(hashalg(p2), hashalg(q2));
    EXPECT_NE(hashalg(p2), hashalg(p4));
}

TEST_F(HashTest, BucketsGrowKeepingTheirPairs) {
    ALGEB tab = Newl1(5, HASHTAB); // four buckets: keys 2, 6, 10, ... share bucket 3
    tab[0] = (tab[0] & COMPLGC) | ((WORD)77 << ShiftGC);
    EXPECT_EQ(search(2, tab), (ALGEB *)NOTFOUND);

    const UINT keys[] = {2, 6, 0xFFFFFFFEu, 10, 14, 18, 22, 26};
    for (int i = 0; i < 8; i++) {
        ALGEB *p = hashinsert(keys[i], MKIMM(100 + i), tab);
        EXPECT_EQ(W(p[0]), (WORD)keys[i]);
        EXPECT_EQ(p[1], MKIMM(100 + i));
        ALGEB bucket = A(tab[3]);
        EXPECT_EQ(LENGTH(bucket), i < 2 ? 7 : i < 7 ? 17 : 29) << "after insertion " << i + 1;
        EXPECT_EQ(GcTag(bucket), 77);
        EXPECT_EQ(ID(bucket), HASH);
        for (int j = 0; j <= i; j++) {
            EXPECT_EQ(bucket[2 * j + 1], (WORD)keys[j]);
            EXPECT_EQ(bucket[2 * j + 2], W(MKIMM(100 + j)));
        }
        EXPECT_EQ(bucket[2 * i + 3], 0);
        EXPECT_EQ(bucket[LENGTH(bucket) - 2], 0) << "the last pair stays empty";
    }
    EXPECT_EQ(tab[1], 0);
    EXPECT_EQ(tab[2], 0);
    EXPECT_EQ(tab[4], 0);
    ALGEB *p = search(0xFFFFFFFEu, tab);
    ASSERT_NE(p, (ALGEB *)NOTFOUND);
    EXPECT_EQ(p[1], MKIMM(102));
    EXPECT_EQ(search(30, tab), (ALGEB *)NOTFOUND);
}

TEST_F(HashTest, TheHashZeroIsAKeyLikeAnyOther) {
    ALGEB tab = Newl1(5, HASHTAB);
    hashinsert(0, MKIMM(1), tab);
    hashinsert(4, MKIMM(2), tab); // same bucket
    ALGEB *p = search(0, tab);
    ASSERT_NE(p, (ALGEB *)NOTFOUND);
    EXPECT_EQ(p[1], MKIMM(1));
    p = search(4, tab);
    ASSERT_NE(p, (ALGEB *)NOTFOUND);
    EXPECT_EQ(p[1], MKIMM(2));
}

} // namespace
