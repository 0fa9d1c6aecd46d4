// Statement execution seen from inside: levels and environments after unwinding, and the
// last results kept for the ditto names.
#include <gtest/gtest.h>

#include "evalstat.h"
#include "testkit.h"

namespace {

using namespace testkit;

class EvalStat : public KernelTest {
  protected:
    void SetUp() override { prtflag = 0; } // nothing is printed
};

int Unwound(ALGEB stat) {
    try {
        evalstat(stat, 0);
    } catch (const Unwind &u) {
        return u.code;
    }
    return 0;
}

TEST_F(EvalStat, ErrorLeavesEnvironmentAndLevelAsBefore) {
    ALGEB s = Parse("for i to 2 do if true then for j from 1 to 'a' do od fi od");
    EXPECT_EQ(Unwound(s), Error);
    EXPECT_EQ(Environment, &IniEnv);
    EXPECT_EQ(IniEnv.evlstlev, 1);
    EXPECT_STREQ(NAMETEXT(A(ININlasterror[1])), "unable to execute for statement");
}

TEST_F(EvalStat, BreakAndNextOutsideLoopsUnwindWithTheirName) {
    EXPECT_EQ(Unwound(Parse("if true then break fi")), Break);
    EXPECT_EQ(funret, ININbreak);
    EXPECT_EQ(IniEnv.evlstlev, 1);
    EXPECT_EQ(Unwound(Parse("next")), Break);
    EXPECT_EQ(funret, ININnext);
}

TEST_F(EvalStat, DebuggerStatementsLeaveTheLastResults) {
    evalstat(Parse("41"), 0);
    EXPECT_EQ(A(TopLevelStack[7]), MKIMM(41));
    EXPECT_EQ(evalstat(Parse("42"), 2), MKIMM(42));
    evalstat(Parse("zzdbg := 43"), 2);
    EXPECT_EQ(A(TopLevelStack[7]), MKIMM(41));
    EXPECT_EQ(A(naminstall("zzdbg")[1]), MKIMM(43));
    evalstat(Parse("zzdbg := 44"), 0);
    EXPECT_EQ(A(TopLevelStack[7]), MKIMM(44));
    EXPECT_EQ(A(TopLevelStack[8]), MKIMM(41));
}

TEST_F(EvalStat, NamesListsTheAssignedButNeverTheDittoNames) {
    evalstat(Parse("zznamed := 1"), 0);
    ALGEB unset = naminstall("zzunset");
    ALGEB r = names(naminstall("assigned"));
    bool named = false;
    for (WORD i = 1; i < LENGTH2(r); i++) {
        EXPECT_NE(A(r[i]), unset);
        for (int d = 0; d < 3; d++)
            EXPECT_NE(A(r[i]), ininame[d]);
        named = named || A(r[i]) == naminstall("zznamed");
    }
    EXPECT_TRUE(named);
}

} // namespace
