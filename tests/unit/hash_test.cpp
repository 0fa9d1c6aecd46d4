// Unique names, hash buckets and the structural hash.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using namespace testkit;

class HashTest : public KernelTest {};

// The list 1..n, its element at (from 1) replaced by v.
ALGEB Ints(int n, int at = 0, int v = 0) {
    ALGEB s = Newl1(n + 1, EXPSEQ);
    for (int i = 1; i <= n; i++)
        s[i] = W(MKIMM(i == at ? v : i));
    return New2(LIST, s);
}

// The doubles 0.5, 1.5, ... packed, the one at (from 0) replaced by -3.
ALGEB Doubles(int n, int at = -1) {
    ALGEB x = Packed(std::vector<double>(n));
    for (int i = 0; i < n; i++)
        LISTNUMDATA(x)[i] = i == at ? -3 : 0.5 + i;
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
    // Names of 500 characters are refused.
    std::string ok(499, 'x'), bad(500, 'y');
    ALGEB n = naminstall(ok.c_str());
    EXPECT_EQ(NAMETEXT(n), ok);
    EXPECT_EQ(naminstall(ok.c_str()), n);
    EXPECT_EQ(ErrorOf([&] { naminstall(bad.c_str()); }), "name too long");
    EXPECT_EQ(srchname(bad.c_str()), (ALGEB *)NOTFOUND);
}

// Texts and names hash by their characters, the first 200 and the length; lists of up to 15
// elements and packed lists of up to 15 doubles hash every one, longer ones samples that leave
// out the 16th element and the first double; raw words are not followed.
TEST_F(HashTest, WhatTheHashSees) {
    auto q250 = [](int at) {
        std::string s(250, 'q');
        if (at >= 0) s[at] = 'r';
        return CreateString(s.c_str());
    };
    const struct {
        ALGEB a, b;
        bool same;
    } cases[] = {
        {naminstall("sequence"), CreateString("sequence"), true},
        {View("sequence", 3), CreateString("seq"), true},
        {q250(-1), q250(220), true},
        {q250(-1), q250(150), false},
        {q250(-1), CreateString(std::string(251, 'q').c_str()), false},
        {Ints(16), Ints(16, 16, 99), true},
        {Ints(16), Ints(16, 1, 99), false},
        {Ints(3), Ints(3, 3, 4), false},
        {Ints(3), Ints(3, 1, 0), false},
        {Ints(2), New2(SET, A(Ints(2)[1])), false},
        {Doubles(15), Doubles(15, 0), false},
        {Doubles(15), Doubles(15, 7), false},
        {Doubles(15), Doubles(15, 14), false},
        {Doubles(16), Doubles(16, 0), true},
        {Doubles(16), Doubles(16, 15), false},
        {Doubles(16), Doubles(17), false},
        {New2(PARAM, A(2)), New2(PARAM, A(2)), true},
        {New2(PARAM, A(2)), New2(PARAM, A(4)), false},
    };
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(hashalg(cases[i].a) == hashalg(cases[i].b), cases[i].same) << "case " << i;
    EXPECT_NE(hashalg(CreateString("")), 0u);
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

TEST_F(HashTest, BucketsGrowKeepingTheirPairs) {
    ALGEB tab = Newl1(5, HASHTAB); // four buckets: keys 2, 6, 10, ... share bucket 3
    tab[0] = (tab[0] & COMPLGC) | ((WORD)77 << ShiftGC);
    auto at = [&](UINT h) {
        ALGEB *p = search(h, tab);
        return p == (ALGEB *)NOTFOUND ? nullptr : p[1];
    };
    EXPECT_EQ(at(2), nullptr);

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
    EXPECT_EQ(at(0xFFFFFFFEu), MKIMM(102));
    EXPECT_EQ(at(30), nullptr);
    // The hash 0 is a key like any other.
    hashinsert(0, MKIMM(1), tab);
    hashinsert(4, MKIMM(2), tab);
    EXPECT_EQ(at(0), MKIMM(1));
    EXPECT_EQ(at(4), MKIMM(2));
}

} // namespace
