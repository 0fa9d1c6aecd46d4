// Heap layout, free lists, texts, copies, products and working storage.
#include <gtest/gtest.h>

#include <unistd.h>

#include "testkit.h"

namespace {

using namespace testkit;

// Each test carves its blocks from regions of its own, starting with empty free lists, and
// leaves them aside afterwards, so that the blocks it takes apart never reach the heap that
// other tests and the collector walk.
class Storage : public KernelTest {
  protected:
    ALGEB saved[NFREELISTS];
    ALGEB savedregions, savedtail;
    WORD savedtaillen;
    static std::vector<ALGEB> &asideregions() {
        // Never destroyed: the leak check at exit still finds the regions through it.
        static std::vector<ALGEB> *kept = new std::vector<ALGEB>;
        return *kept;
    }
    void SetUp() override {
        memcpy(saved, freelist, sizeof saved);
        memset(freelist, 0, sizeof freelist);
        savedregions = allstorage;
        allstorage = 0;
        savedtail = tail;
        savedtaillen = taillen;
        tail = 0;
        taillen = 0;
    }
    void TearDown() override {
        WSReturn();
        for (ALGEB r = allstorage; r != 0; r = A(r[0]))
            asideregions().push_back(r);
        allstorage = savedregions;
        memcpy(freelist, saved, sizeof saved);
        tail = savedtail;
        taillen = savedtaillen;
    }
};

TEST_F(Storage, ExactListsSplitMultiples) {
    ALGEB big = get_space(40);
    release(big, 6);
    ALGEB p = get_space(3);
    EXPECT_EQ(p, big);
    EXPECT_EQ(freelist[6], nullptr);
    EXPECT_EQ(freelist[3], big + 3);
    EXPECT_EQ(freelist[3][0], 0);
    // The next 3-word request is a plain pop.
    EXPECT_EQ(get_space(3), big + 3);
    EXPECT_EQ(freelist[3], nullptr);
}

TEST_F(Storage, SmallRequestsComeFromTheRestOfABrokenBlock) {
    ALGEB a = get_space(400); // a fresh region: the rest of it is the tail
    EXPECT_EQ(tail, a + 400);
    EXPECT_EQ(Newl1(4, LIST), a + 400);
    EXPECT_EQ(Newl1(5, LIST), a + 404);
    EXPECT_EQ(freelist[4], nullptr);
    // A shorter rest than the tail goes back to its class.
    release(a, 400);
    EXPECT_EQ(Newl1(30, LIST), a);
    EXPECT_EQ(tail, a + 409);
    EXPECT_EQ(freelist[storgrp(370)][0] | freelist[storgrp(370)][2], 0); // one block
    HeapWalk();
}

TEST_F(Storage, ClassListsKeepOneNodePerLength) {
    ALGEB a = get_space(40), b = get_space(40);
    release(a, 40);
    release(b, 40);
    int cls = storgrp(40);
    EXPECT_EQ(cls, 27);
    ALGEB node = freelist[cls];
    ASSERT_EQ(node, a);
    EXPECT_EQ(node[1], 40);
    EXPECT_EQ(A(node[0]), b); // the second block hangs in the node's chain
    EXPECT_EQ(node[2], 0);
    EXPECT_EQ(get_space(40), b);
    EXPECT_EQ(get_space(40), a);
    EXPECT_EQ(freelist[cls], nullptr);

    ALGEB x = get_space(50), y = get_space(45), z = get_space(48);
    release(x, 50);
    release(y, 45);
    release(z, 48);
    ALGEB n1 = freelist[storgrp(45)];
    ASSERT_EQ(n1, y);
    EXPECT_EQ(A(n1[2]), z);
    EXPECT_EQ(A(A(n1[2])[2]), x);
    // A 46-word request takes the 48-word node and gives 2 words back.
    EXPECT_EQ(get_space(46), z);
    EXPECT_EQ(freelist[2], z + 46);
    const std::pair<WORD, int> bounds[] = {{26, 26},    {31, 26},    {32, 27},
                                           {86526, 56}, {86527, 57}, {262143, 57}};
    for (auto [len, cls] : bounds)
        EXPECT_EQ(storgrp(len), cls) << len;
}

// Small requests take regions of 100000 words, larger ones regions of their own size.
TEST_F(Storage, RegionSizesAndLargestObject) {
    auto taken = [](auto request) {
        memset(freelist, 0, sizeof freelist);
        tail = 0, taillen = 0;
        WORD before = totalmem;
        request();
        return totalmem - before;
    };
    EXPECT_EQ(taken([] { get_space(33333); }), 100000);
    EXPECT_EQ(taken([] { get_space(33334); }), 33336);
    EXPECT_EQ(taken([] { EXPECT_EQ(LENGTH(Newl1(262143, LIST)), 262143); }), 262145);
    EXPECT_EQ(ErrorOf([] { get_space(262144); }), "object too large");
}

TEST_F(Storage, NumbersImmediatesAndNaNs) {
    EXPECT_TRUE(IMMINT(Newint(-1073741824)));
    EXPECT_FALSE(IMMINT(Newint(-1073741825)));
    EXPECT_EQ(LENGTH(Newint(1073741824)), 2);
    EXPECT_EQ(intvalue(NewNumber(-7.5)), -8);
    EXPECT_EQ(intvalue(NewNumber(2.5)), 2);
    ALGEB x = naminstall("x");
    EXPECT_EQ(ErrorOf([x] { DBL(x); }), "cannot be converted to a number");
    EXPECT_EQ(A(A(ININlasterror[1])[1]), x);
    // A NaN carries a handle; the error value and the platform's NaNs are no handles.
    EXPECT_TRUE(isNaNerror(NaNerror));
    EXPECT_FALSE(isNaNerror(0.0 / std::atof("0")));
    EXPECT_FALSE(isNaNerror(std::nan("")));
    EXPECT_FALSE(isNaNerror(MakeNaN(MKIMM(1))));
    double d = MakeNaN(x);
    EXPECT_TRUE(NaN(d) && std::isnan(d));
    EXPECT_EQ(NaNtoALGEB(d), x);
    EXPECT_EQ(NaNtoALGEB(MakeNaN(MKIMM(-1073741824))), MKIMM(-1073741824));
    EXPECT_FALSE(NaN(1.5));
}

TEST_F(Storage, TextLayouts) {
    for (unsigned n = 0; n < 16; n++)
        EXPECT_EQ(LENGTH(NewText(n)), n < 8 ? 5 : 6) << n;
    ALGEB t = NewText(21);
    WORD L = LENGTH(t);
    EXPECT_EQ(A(t[2]), t + 3);
    EXPECT_EQ(A(t[L - 1]), t);
    EXPECT_EQ(STR(t)->length, 21);

    EXPECT_EQ(CreateString(""), OneChar[0]);
    EXPECT_EQ(STR(OneChar[0])->length, 0);
    EXPECT_EQ(CreateString("a"), OneChar['a']);
    EXPECT_EQ(*STR(OneChar['a'])->t, 'a');
    ALGEB ab = CreateString("ab");
    EXPECT_NE(ab, CreateString("ab"));
    EXPECT_EQ(LENGTH(ab), 5);
    EXPECT_TRUE(EqualText(ab, "ab"));
    EXPECT_FALSE(EqualText(ab, "ac"));
    EXPECT_TRUE(EqualText(naminstall("ab"), "ab"));
    EXPECT_FALSE(EqualText(naminstall("ab"), "abc"));
}

TEST_F(Storage, LargeTextsLiveOutsideTheHeap) {
    int before = NumMonster;
    UWORD n = (UWORD)(MAXOBJLEN - 4) * 8;
    ALGEB t = NewText(n);
    EXPECT_EQ(LENGTH(t), 3);
    EXPECT_EQ(NumMonster, before + 1);
    EXPECT_EQ((UWORD)STR(t)->length, n);
    EXPECT_EQ(STR(t)->t[n], 0);
    EXPECT_EQ(FindTextHead(STR(t)->t + 12345), t);
    ALGEB below = NewText(n - 8);
    EXPECT_EQ(LENGTH(below), MAXOBJLEN);
}

TEST_F(Storage, FindTextHead) {
    EXPECT_EQ(FindTextHead(&OneChars['q']), OneChar['q']);
    ALGEB t = CreateString("hello, world");
    EXPECT_EQ(FindTextHead(STR(t)->t), t);
    EXPECT_EQ(FindTextHead(STR(t)->t + 9), t);
    std::string longer(2000, 'x');
    ALGEB l = CreateString(longer.c_str());
    int cached = nTextHeads;
    EXPECT_EQ(FindTextHead(STR(l)->t + 10), l);
    EXPECT_EQ(nTextHeads, cached + (cached < MAXTextHeads));
    EXPECT_EQ(FindTextHead(STR(l)->t + 20), l);
    // Characters that belong to no text.
    static char loose[16] = "not a text";
    EXPECT_EQ(FindTextHead(loose + 2), nullptr);
}

TEST_F(Storage, CopyDepth) {
    ALGEB inner = New2(LIST, New3(EXPSEQ, MKIMM(1), MKIMM(2)));
    ALGEB x = naminstall("x");
    ALGEB list = New2(LIST, New3(EXPSEQ, inner, x));
    ALGEB c = copy(list, 1);
    ASSERT_NE(c, list);
    ASSERT_NE(A(c[1]), A(list[1])); // the sequence costs no depth
    EXPECT_EQ(A(A(c[1])[1]), inner);
    EXPECT_EQ(A(A(c[1])[2]), x);
    ALGEB c2 = copy(list, 2);
    EXPECT_NE(A(A(c2[1])[1]), inner);
    EXPECT_EQ(A(A(c2[1])[2]), x);
    EXPECT_EQ(copy(x, 5), x);
    EXPECT_EQ(copy(list, 0), list);
    EXPECT_EQ(copy(MKIMM(3), 4), MKIMM(3));

    ALGEB text = CreateString("substring");
    ALGEB view = New3(TEXT, A(3), A(STR(text)->t + 3));
    ALGEB vc = copy(view, 1);
    EXPECT_EQ(LENGTH(vc), 5);
    EXPECT_TRUE(EqualText(vc, "str"));
    EXPECT_EQ(STR(vc)->t[3], 0);
    ALGEB inl = copy(text, 1);
    EXPECT_NE(inl, text);
    EXPECT_EQ(A(inl[2]), inl + 3);
    EXPECT_EQ(A(inl[LENGTH(inl) - 1]), inl);
    EXPECT_EQ(copy(New3(TEXT, A(0), A(STR(text)->t)), 1), OneChar[0]);
    EXPECT_EQ(Text(copy(New3(TEXT, A(1), A(STR(text)->t)), 1)), "s");
    // The copy carries the current generation.
    EXPECT_EQ(GcTag(c), gcgen);
}

TEST_F(Storage, Enlarge) {
    ALGEB s = New3(LIST, MKIMM(1), MKIMM(2));
    EXPECT_EQ(enlarge(s, 0), s);
    ALGEB r = enlarge(s, 4);
    EXPECT_TRUE(IDLENGTH(r, LIST, 7));
    EXPECT_EQ(A(r[2]), MKIMM(2));
    EXPECT_EQ(r[3] | r[4] | r[5] | r[6], 0);
    EXPECT_EQ(freelist[3], s); // the old block went back
}

TEST_F(Storage, WorkingStorage) {
    EXPECT_EQ(WSHead, nullptr);
    WSReturn(); // nothing outstanding: nothing happens
    char *a;
    WorkingStorage(10, char, a);
    ALGEB block = (ALGEB)a - 6;
    EXPECT_EQ(ID(block), GARBAGE);
    EXPECT_EQ(LENGTH(block), (10 - 1) / 8 + 8);
    memset(a, 'z', 10);
    double *d;
    WorkingStorage(3, double, d);
    EXPECT_EQ((ALGEB)d - 6, WSHead);
    WSCheck(__FILE__, __LINE__, 0);
    double before = cused;
    WSReturn();
    EXPECT_EQ(WSHead, nullptr);
    EXPECT_LT(cused, before);

    // A user error hands back what is outstanding.
    WorkingStorage(100, char, a);
    EXPECT_EQ(ErrorOf([] { userror("boom"); }), "boom");
    EXPECT_EQ(WSHead, nullptr);

    // Large requests come from pages of their own.
    WorkingStorage(3000000, char, a);
    EXPECT_EQ(ID(WSHead), GARBAGE4K);
    a[2999999] = 1;
    WSReturn();
    EXPECT_EQ(WSHead, nullptr);
}

TEST_F(Storage, WorkingScopesNest) {
    char *outer, *inner;
    WorkingStorage(8, char, outer);
    outer[0] = 0;
    ALGEB mark = WSHead;
    {
        WorkingScope scope;
        WorkingStorage(8, char, inner);
        WorkingStorage(8, char, inner);
        inner[7] = 0;
        EXPECT_NE(WSHead, mark);
    }
    EXPECT_EQ(WSHead, mark);
    try {
        WorkingScope scope;
        WorkingStorage(8, char, inner);
        userror("inside");
    } catch (const Unwind &) {
    }
    EXPECT_EQ(WSHead, nullptr);
}

using StorageDeath = Storage;

// Each case spoils one word around the 16 bytes of a block, then hands the block back or checks
// it.
TEST_F(StorageDeath, GuardCorruptionIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const struct {
        int word;
        WORD value;
        bool check;
        const char *report;
    } cases[] = {
        {2, 'x', false, "word beyond \\+1 corrupted to: .*\n.*Requested about 16 bytes"},
        {-2, 12345, true,
         "word before -1 corrupted to: 12345==3039\nWorkingStorage called possibly at line [0-9]+\n"
         "WSCheck called from caller.cpp at line 7\ncannot continue, storage corrupted\n"
         "Irrecoverable system error WSCheck"},
        {-1, 1, false,
         "header corrupted to: 1\n.*cannot continue, storage corrupted\n"
         "Irrecoverable system error WSReturn"},
    };
    for (auto c : cases) {
        auto spoil = [&] {
            dup2(2, 1);
            char *a;
            WorkingStorage(16, char, a);
            ((ALGEB)a)[c.word] = c.value;
            if (c.check)
                WSCheck("caller.cpp", 7, 0);
            else
                WSReturn();
        };
        EXPECT_DEATH(spoil(), c.report) << c.word;
    }
}

} // namespace
