// Procedures turned into their executable form, argument flattening, and debugger statements
// resolved against the running procedure.
#include <gtest/gtest.h>

#include "evalfunc.h"
#include "simplfnc.h"
#include "testkit.h"

namespace {

using namespace testkit;

class SimplfncTest : public KernelTest {
  protected:
    static ALGEB Proc(const std::string &s) {
        ALGEB p = Parse(s);
        EXPECT_EQ(ID(p), PROC) << s;
        return simplfnc(p, 0, 0);
    }
    static std::string Locals(ALGEB p) { return DumpTree(A(p[2])); }
    static std::string Body(ALGEB p) { return DumpTree(A(p[6])); }

    // The message of the user error raised by converting s, with its object, or "".
    static std::string ErrorOf(const std::string &s) {
        if (!RaisesError([&] { Proc(s); })) return "";
        ALGEB e = A(ININlasterror[1]);
        if (ID(e) == NAME) return NAMETEXT(e);
        return DumpTree(A(e[1])) + ": " + NAMETEXT(A(e[2]));
    }
};

TEST_F(SimplfncTest, OptionalParameters) {
    ALGEB p = Proc("proc(a; b=2:integer, c:string) [a, b, c] end");
    ASSERT_EQ(LENGTH2(p), 8);
    EXPECT_EQ(Locals(p), "EXPSEQ(b,c)");
    EXPECT_EQ(DumpTree(A(p[7])),
              "EXPSEQ(COLON(EQUATION(b,2),integer),2,1,COLON(c,string),NoDefault,2)");
    EXPECT_EQ(Body(p), "LIST(EXPSEQ(P1,L1,L2))");
    // An explicit local is reused; implicit locals may be optional parameters too.
    p = Proc("proc(a; b=2:integer, c:string) local d, b; d := c; c := 1 end");
    EXPECT_EQ(Locals(p), "EXPSEQ(d,b,c)");
    EXPECT_EQ(DumpTree(A(p[7])),
              "EXPSEQ(COLON(EQUATION(b,2),integer),2,2,COLON(c,string),NoDefault,3)");
    // Defaults are converted like the body.
    p = Proc("proc(a; b=a+1:integer) b end");
    EXPECT_EQ(DumpTree(A(A(p[7])[2])), "SUM(P1,1)");
    // The colon-expression may sit inside the declaration.
    p = Proc("proc(; [x:integer, 1]) x end");
    EXPECT_EQ(Locals(p), "EXPSEQ(x)");
    EXPECT_EQ(Body(p), "L1");
}

TEST_F(SimplfncTest, LexicalLocals) {
    ALGEB p = Proc("proc() local t; f := proc() t end; f end");
    EXPECT_EQ(Locals(p), "EXPSEQ(t,f)");
    ALGEB inner = A(A(A(p[6])[1])[2]);
    ASSERT_EQ(ID(inner), PROC);
    ALGEB ref = A(inner[6]);
    ASSERT_TRUE(IDLENGTH(ref, LOCAL, 3));
    EXPECT_EQ(ref[1], -1);
    EXPECT_EQ(A(ref[2]), p);
    // The outer locals are private NAMEs now, with the texts of the originals.
    ALGEB t = A(A(p[2])[1]);
    EXPECT_NE(t, naminstall("t"));
    EXPECT_STREQ(NAMETEXT(t), "t");
    EXPECT_EQ(t[1], 0);
    // Without nested procedures the locals stay the global NAMEs.
    p = Proc("proc() local t; t := 1 end");
    EXPECT_EQ(A(A(p[2])[1]), naminstall("t"));
}

TEST_F(SimplfncTest, ConvertedProceduresAreLeftAlone) {
    ALGEB p = Proc("proc(x) y := x end");
    std::string body = Body(p);
    EXPECT_EQ(simplfnc(p, 0, 0), p);
    EXPECT_EQ(Body(p), body);
    // Modules have no parameters; their locals are found the same way.
    ALGEB m = Proc("module local a; b := a end");
    EXPECT_EQ(A(m[1]), ModuleNull);
    EXPECT_EQ(Locals(m), "EXPSEQ(a,b)");
    EXPECT_EQ(Body(m), "ASSIGN(L2,L1)");
}

TEST_F(SimplfncTest, FlattenExpseq) {
    ALGEB t = New5(EXPSEQ, MKIMM(1), New3(EXPSEQ, MKIMM(2), MKIMM(3)), null, MKIMM(4));
    ALGEB r = FlattenExpseq(t, 0);
    EXPECT_NE(r, t);
    EXPECT_EQ(DumpTree(r), "EXPSEQ(1,2,3,4)");
    EXPECT_EQ(DumpTree(t), "EXPSEQ(1,EXPSEQ(2,3),EXPSEQ(),4)");
    // The type of t is kept.
    ALGEB f = New4(FUNCTION, naminstall("f"), New3(EXPSEQ, MKIMM(1), MKIMM(2)), MKIMM(3));
    EXPECT_EQ(DumpTree(FlattenExpseq(f, 0)), "FUNCTION(f,1,2,3)");

    // In place in a buffer with room to grow.
    WORD buf[8] = {EXPSEQ | 3, W(New4(EXPSEQ, MKIMM(1), MKIMM(2), MKIMM(3))), W(MKIMM(4))};
    EXPECT_EQ(FlattenExpseq(buf, 8), buf);
    EXPECT_EQ(DumpTree(buf), "EXPSEQ(1,2,3,4)");
    // Too little room gives a new object.
    WORD small[4] = {EXPSEQ | 3, W(New4(EXPSEQ, MKIMM(1), MKIMM(2), MKIMM(3))), W(MKIMM(4))};
    r = FlattenExpseq(small, 4);
    EXPECT_NE(r, small);
    EXPECT_EQ(DumpTree(r), "EXPSEQ(1,2,3,4)");
    // Shrinking in place leaves a dead block behind, so the words stay walkable.
    WORD shrink[5] = {EXPSEQ | 5, W(null), W(MKIMM(1)), W(null), W(MKIMM(2))};
    EXPECT_EQ(FlattenExpseq(shrink, 5), shrink);
    EXPECT_EQ(DumpTree(shrink), "EXPSEQ(1,2)");
    EXPECT_EQ(shrink[3], GARBAGE | 2);
}

TEST_F(SimplfncTest, DebuggerStatementsSeeTheRunningProcedure) {
    ALGEB p = Proc("proc(x) local y; y := x end");
    ALGEB y = naminstall("y");
    y[1] = 0;
    // An activation of p, as procedure invocation builds it.
    ALGEB loc = copyalg(A(A(p[2])[1]));
    WORD ctx[LumbraStackSize] = {W(TopLevelStack),     1,
                                 W(New2(EXPSEQ, loc)), W(New2(EXPSEQ, MKIMM(7))),
                                 W(naminstall("p")),   W(p)};
    std::fill(ctx + 6, ctx + 10, W(null));
    EnvRecord env = {1, IniEnv.evlstlev + 19, ctx};
    Environment = &env;
    ASSERT_EQ(DebuggerStatement("y := x:"), 1);
    Environment = &IniEnv;
    EXPECT_EQ(A(loc[1]), MKIMM(7));
    EXPECT_EQ(y[1], 0);
    EXPECT_EQ(InteracDebCalled, 0);
}

} // namespace
