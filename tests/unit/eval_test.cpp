// Equality and ordering of objects, class names, and parameters of the running activation.
#include <gtest/gtest.h>

#include "eval.h"
#include "testkit.h"

namespace {

using namespace testkit;

class Eval : public KernelTest {};

// What the equality transcript cannot show: views, strict comparison, the bits of packed
// numbers, and raw words of parameters and locals, which are not followed.
TEST_F(Eval, Equality) {
    ALGEB s = Str("abcdef"), owner = N("owner");
    auto view = [&](WORD at, WORD n) { return View(STR(s)->t + at, n); };
    auto local = [](WORD k, ALGEB f) { return New3(LOCAL, A(k), Call(f, {I(1)})); };
    const struct {
        ALGEB a, b;
        int strict;
        bool equal;
    } cases[] = {
        {Str("abc"), view(0, 3), 0, true},
        {Str("abc"), view(0, 4), 0, false},
        {OneChar[0], Str(""), 0, true},
        // Strictly, only texts over the same characters are equal.
        {Str("abc"), Str("abc"), 1, false},
        {view(0, 3), view(0, 3), 1, true},
        {view(0, 3), view(1, 3), 1, false},
        {view(0, 3), view(0, 2), 1, false},
        {Packed({}), EmptyList, 0, true},
        {Packed({1.5, 2.0}), Packed({1.5, 2.0}), 0, true},
        {Packed({0.0, 1.0}), Packed({-0.0, 1.0}), 0, true},
        {Packed({1.5, 2.0}), Packed({1.0, 2.0}), 0, false},
        {Packed({1.5, 2.0}), Packed({1.5, 2.0, 3.0}), 0, false},
        {Packed({NAN, 1.0}), Packed({-NAN, 1.0}), 0, false},
        {New2(PARAM, A(1)), New2(PARAM, A(1)), 0, true},
        {New2(PARAM, A(1)), New2(PARAM, A(2)), 0, false},
        {local(-2, owner), local(-2, owner), 0, true},
        {local(-2, owner), local(-2, N("other")), 0, false},
        {local(-4, owner), local(-2, owner), 0, false},
    };
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(Equal(cases[i].a, cases[i].b, cases[i].strict), cases[i].equal) << "case " << i;
}

TEST_F(Eval, RecordsAreEqualOnlyWhenIdentical) {
    WORD len = NrALGEBs(1, Match);
    ALGEB m1 = Newl1(len, MATCH), m2 = Newl1(len, MATCH);
    ((Match *)m1)->Sim = 10;
    ((Match *)m2)->Sim = 10;
    // Same words: equal without looking further.
    EXPECT_TRUE(Equal(m1, m2, 0));
    ((Match *)m2)->PamNumber = 25;
    EXPECT_FALSE(Equal(m1, m2, 0));

    WORD dlen = NrALGEBs(1, database);
    ALGEB d1 = Newl1(dlen, DNAFILE), d2 = Newl1(dlen, DNAFILE);
    strcpy(((database *)d1)->FileName, "one");
    strcpy(((database *)d2)->FileName, "two");
    EXPECT_EQ(ErrorOf([&] { Equal(d1, d2, 0); }), "unable to compare");
    EXPECT_EQ(ErrorOf([&] { Equal(List({d1}), List({d2}), 0); }), "unable to compare");
    EXPECT_TRUE(Equal(d1, d1, 0));
}

// Characters compare as unsigned bytes; a prefix comes first.
TEST_F(Eval, TextsOrderByCharacters) {
    EXPECT_TRUE(CompareAny(LESSTHAN, Str("abcd"), Str("abd")));
    EXPECT_FALSE(CompareAny(LESSTHAN, Str("abc"), Str("abc")));
    EXPECT_TRUE(CompareAny(LESSTHAN, Str(""), Str("a")));
    EXPECT_TRUE(CompareAny(LESSTHAN, Str("a"), Str("\xe9")));
    EXPECT_TRUE(CompareAny(LESSEQ, Str("abc"), Str("abcd")));
    EXPECT_TRUE(CompareAny(LESSTHAN, N("abc"), Str("abd")));
}

TEST_F(Eval, ClassNames) {
    EXPECT_EQ(type1(I(3)), ININinteger);
    EXPECT_EQ(type1(Num(1e10)), ININinteger);
    EXPECT_EQ(type1(Num(2.5)), ININfloat);
    EXPECT_EQ(type1(N("x")), ININsymbol);
    EXPECT_EQ(type1(Call(N("myclass"), {I(1)})), N("myclass"));
    EXPECT_EQ(type1(Call(List({}), {I(1)})), ININstructure);
    EXPECT_EQ(type1(Packed({1.0})), ININlist);
    EXPECT_EQ(type1(List({})), ININlist);
    EXPECT_EQ(type1(New3(COLON, N("x"), ININinteger)), ININcolon);
    EXPECT_EQ(type1(New3(LESSEQ, I(1), I(2))), ININlessequal);
    EXPECT_EQ(type1(Str("s")), ININstring);
    EXPECT_EQ(type1(Newl1(2, SYSTEM)), nullptr);
}

// An activation of procedure proc(x:integer, y) local a, b, called by the name f.
class Activation : public Eval {
  protected:
    WORD ctx[LumbraStackSize];
    EnvRecord env;
    EnvRecord *saved;
    ALGEB proc, locals;
    void SetUp() override {
        saved = Environment;
        proc = New7(PROC, Seq({New3(COLON, N("x"), ININinteger), N("y")}),
                    Seq({Newl1(3, NAME), Newl1(3, NAME)}), null, null, null, null);
        locals = Seq({Newl1(3, NAME), Newl1(3, NAME)});
        const WORD words[] = {W(TopLevelStack), 1,       W(locals), W(Seq({I(7)})), W(N("f")),
                              W(proc),          W(null), W(I(70)),  W(I(80)),       W(I(90))};
        std::copy(std::begin(words), std::end(words), ctx);
        env = {1, 25, ctx};
        Environment = &env;
    }
    void TearDown() override { Environment = saved; }
};

TEST_F(Activation, SubstitutionCopiesOnlyWhatChanges) {
    ALGEB x = New2(PARAM, A(1));
    ALGEB s = List({N("z"), New3(SUM, x, I(1))});
    ALGEB r = evparloc(s);
    ASSERT_NE(r, s);
    EXPECT_TRUE(Equal(r, List({N("z"), New3(SUM, I(7), I(1))}), 0));
    // The original keeps its parameter.
    EXPECT_EQ(A(A(A(s[1])[2])[1]), x);
    ALGEB c = List({N("z"), Str("t")});
    EXPECT_EQ(evparloc(c), c);
    EXPECT_EQ(evparloc(New2(LOCAL, A(2))), A(locals[2]));
    EXPECT_EQ(evparloc(ininame[1]), I(80));
    EXPECT_EQ(valuenv(ininame[2]), I(90));
}

// remember with a procedure that gives back its (evaluated) argument, built-in 3.
class Remember : public Eval {
  protected:
    ALGEB proc, rf;
    WORD savedplev;
    void SetUp() override {
        proc = New7(PROC, Seq({N("a")}), null, Seq({ININbuiltin}), null, null, I(3));
        rf = N("evaltestremembered");
        rf[1] = W(proc);
        savedplev = TopLevelStack[1];
        remember(0, 0);
    }
    void TearDown() override {
        TopLevelStack[1] = savedplev;
        TopLevelStack[7] = W(null);
        rf[1] = 0;
        remember(0, 0);
    }
};

TEST_F(Remember, TheDittoNamesGiveTheirProcedure) {
    TopLevelStack[7] = W(proc);
    ALGEB arg = List({I(6)});
    EXPECT_EQ(remember(ininame[0], Seq({arg})), arg);
    EXPECT_EQ(remember(rf, Seq({List({I(6)})})), arg);
}

TEST_F(Remember, OnlyNamesOfProceduresCanBeRemembered) {
    EXPECT_EQ(ErrorOf([] { remember(I(3), Seq({})); }),
              "remember-ing should be on a function name");
    rf[1] = W(I(4));
    EXPECT_EQ(ErrorOf([&] { remember(rf, Seq({})); }),
              "is not assigned a procedure for remember-ing");
}

} // namespace
