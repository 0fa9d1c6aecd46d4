// The collector: what survives, what is reclaimed, and the shape of the heap afterwards.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using namespace testkit;

// Takes every block off the free lists, leaving each as a dead object in the heap.
void drainfreelists() {
    for (auto [start, length] : FreeBlocks()) {
        ALGEB p = start;
        WORD len = length;
        for (; len > MAXOBJLEN; p += MAXOBJLEN, len -= MAXOBJLEN)
            p[0] = MAXOBJLEN | GARBAGE;
        p[0] = len | GARBAGE;
    }
    memset(freelist, 0, sizeof freelist);
    tail = 0;
    taillen = 0;
}

class Collector : public QuietKernelTest {};

TEST_F(Collector, FinishedStatementsLoseTheirTemporariesAndUnusedNames) {
    ENVevlstlev = 2;
    ALGEB temp = New3(LIST, MKIMM(1), MKIMM(2));
    ALGEB kept = New3(LIST, MKIMM(3), MKIMM(4));
    ALGEB name = naminstall("gcKeptValue");
    name[1] = W(kept);
    naminstall("gcForgottenName");
    ALGEB valued = naminstall("gcValuedName");
    valued[1] = W(MKIMM(1));
    Collect();
    EXPECT_TRUE(IsFree(temp));
    EXPECT_FALSE(IsFree(kept));
    EXPECT_EQ(ID(kept), LIST);
    EXPECT_EQ(A(kept[2]), MKIMM(4));
    EXPECT_EQ(A(naminstall("gcKeptValue")[1]), kept);
    // Unassigned names that nothing refers to leave the table.
    EXPECT_EQ(srchname("gcForgottenName"), (ALGEB *)NOTFOUND);
    EXPECT_NE(srchname("gcValuedName"), (ALGEB *)NOTFOUND);
    EXPECT_EQ(naminstall("gcValuedName"), valued);
    ALGEB again = naminstall("gcForgottenName");
    EXPECT_EQ(ID(again), NAME);
    EXPECT_STREQ(NAMETEXT(again), "gcForgottenName");
}

TEST_F(Collector, RunningEvaluationsKeepTheirGenerations) {
    // An evaluation at level 5 allocates; statements at deeper levels finish meanwhile.
    EndStatement();
    EndStatement();
    ENVevlstlev = 5;
    ALGEB held = New3(LIST, MKIMM(7), MKIMM(8));
    nextgcgen = -1;
    ENVevlstlev = 6;
    GcAfterStatement(6);
    GcAfterStatement(6);
    gc();
    EXPECT_FALSE(IsFree(held));
    EXPECT_EQ(A(held[1]), MKIMM(7));
    // Once a statement at its own level finishes, the generation is condemned.
    GcAfterStatement(5);
    ENVevlstlev = 1;
    gc();
    EXPECT_TRUE(IsFree(held));
}

TEST_F(Collector, DeadNeighboursMergeWithFreeBlocks) {
    drainfreelists();
    ENVevlstlev = 2;
    ALGEB a = Newl1(30, LIST);
    ALGEB b = Newl1(30, LIST);
    ALGEB c = Newl1(30, LIST);
    ASSERT_EQ(b, a + 30);
    ASSERT_EQ(c, b + 30);
    release(b, 30);
    Collect();
    WORD len = 0;
    ALGEB f = FreeBlockAt(a, &len);
    ASSERT_NE(f, nullptr);
    EXPECT_GE(f + len, c + 30); // one block from a (or earlier dead words) past c
}

TEST_F(Collector, RememberEntriesAreWeak) {
    ALGEB proc = naminstall("gcProc");
    proc[1] = W(Newl1(8, PROC));
    ALGEB livearg = naminstall("gcLiveArg");
    livearg[1] = W(MKIMM(1));
    ENVevlstlev = 2;
    ALGEB deadarg = New2(LIST, New2(EXPSEQ, MKIMM(5)));
    ALGEB p = A(proc[1]);
    hashinsert(11, New4(EXPSEQ, MKIMM(100), p, deadarg), remembertab);
    hashinsert(11, New4(EXPSEQ, MKIMM(200), p, livearg), remembertab);
    Collect();
    ALGEB *pair = search(11, remembertab);
    ASSERT_NE(pair, (ALGEB *)NOTFOUND);
    EXPECT_EQ(A(A(pair[1])[1]), MKIMM(200));
    EXPECT_EQ(pair[2], nullptr); // the dead entry is gone
}

TEST_F(Collector, DeepStructuresDoNotExhaustTheStack) {
    ENVevlstlev = 2;
    ALGEB x = null;
    for (int i = 0; i < 1000000; i++)
        x = New2(LIST, New2(EXPSEQ, x));
    ALGEB holder = naminstall("gcDeep");
    holder[1] = W(x);
    // A chain of a million names, each assigned the one before it.
    std::vector<ALGEB> chain;
    for (int i = 0; i < 1000000; i++) {
        chain.push_back(naminstall(("gcChain" + std::to_string(i)).c_str()));
        chain.back()[1] = W(i == 0 ? MKIMM(0) : chain[i - 1]);
    }
    naminstall("gcChainHead")[1] = W(chain.back());
    Collect();
    ALGEB y = A(naminstall("gcDeep")[1]);
    int depth = 0;
    while (y != null) {
        ASSERT_EQ(ID(y), LIST);
        y = A(A(y[1])[1]);
        depth++;
    }
    EXPECT_EQ(depth, 1000000);
    EXPECT_EQ(A(naminstall("gcChain0")[1]), MKIMM(0));
    // A million assigned names would stay for the tests that come after.
    for (ALGEB n : chain)
        n[1] = 0;
    naminstall("gcChainHead")[1] = 0;
    holder[1] = 0;
    Collect();
}

} // namespace
