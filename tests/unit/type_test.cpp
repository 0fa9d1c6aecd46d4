// Type tests on packed number lists and kinds, and selections that change objects in place.
#include <gtest/gtest.h>

#include "evalfunc.h"
#include "selector.h"
#include "testkit.h"
#include "type.h"

namespace {

using namespace testkit;

class TypeSel : public KernelTest {};

// Selectors as the evaluator passes them: the object first, selection from index 2.
ALGEB Sel(ALGEB s, std::initializer_list<ALGEB> sels, ALGEB val = 0) {
    ALGEB t = Newl1((WORD)sels.size() + 2, EXPSEQ);
    t[1] = W(s);
    WORD i = 2;
    for (ALGEB x : sels)
        t[i++] = W(x);
    return selector(s, t, 2, val);
}

TEST_F(TypeSel, KindTypesAreFoundByHandle) {
    const std::pair<ALGEB, WORD> cases[] = {
        {ININfloat, NUMBER},
        {ININcolon, COLON},
        {ININsymbol, NAME},
        {ININselect, TABLEREF},
        {ININless, LESSTHAN},
        {ININlessequal, LESSEQ},
        {ININunequal, INEQUAT},
        {ININcompressed, COMPRESSED},
        // Named types with a rule of their own, and a spelling that only looks like a kind.
        {ININinteger, 0},
        {ININlist, 0},
        {naminstall("fl"), 0},
        {CreateString("float"), 0}};
    for (auto [name, type] : cases)
        EXPECT_EQ(typesel(name), type) << Printed(name);
}

TEST_F(TypeSel, NonnegativeIsRecognisedBySpelling) {
    EXPECT_TRUE(type_numeric(0, naminstall("nonnegative")));
    EXPECT_FALSE(type_numeric(-1, naminstall("nonnegative")));
    EXPECT_TRUE(type_numeric(2, CreateString("nonneg")));
    EXPECT_FALSE(type_numeric(2, CreateString("nonnegatives")));
    EXPECT_FALSE(type_numeric(2, naminstall("nonneg")));
    EXPECT_TRUE(type_numeric(2, New2(SET, Seq({ININnegative, I(2)}))));
    EXPECT_FALSE(type_numeric(2.5, ININinteger));
}

TEST_F(TypeSel, StoringANonNumberUnpacksTheListInPlace) {
    ALGEB v = Packed({1, 2.5, 3});
    int tag = GcTag(v);
    ALGEB x = naminstall("x");
    EXPECT_EQ(Sel(v, {I(-2)}, x), x);
    ASSERT_EQ(ID(v), LIST);
    EXPECT_EQ(LENGTH(v), 2);
    EXPECT_EQ(GcTag(v), tag);
    ALGEB e = A(v[1]);
    ASSERT_EQ(LENGTH(e), 4);
    EXPECT_TRUE(A(e[1]) == I(1));
    EXPECT_EQ(A(e[2]), x);
    EXPECT_TRUE(A(e[3]) == I(3));
}

// The buckets of a table(buckets, default) object.
ALGEB Buckets(ALGEB tab) { return A(A(tab[2])[1]); }

WORD Entries(ALGEB bucket) { return LENGTH(A(bucket[1])) - 1; }

TEST_F(TypeSel, TablesGetBucketsOnFirstStoreAndGrowAtForty) {
    ALGEB tab = Call("table", {EmptyList, naminstall("none")});
    EXPECT_EQ(TableSel(tab, I(5), 0), naminstall("none"));
    EXPECT_EQ(LENGTH(Buckets(tab)), 1);
    // Keys 13m hash to 26m+1, all in one of 13 buckets.
    for (WORD m = 1; m <= 39; m++)
        TableSel(tab, I(13 * m), I(m));
    ASSERT_EQ(LENGTH(Buckets(tab)), 14);
    ALGEB full = A(Buckets(tab)[2]);
    ASSERT_EQ(Entries(full), 39);
    // Entries are kept in key order.
    for (WORD k = 1; k <= 39; k++)
        EXPECT_TRUE(A(A(A(A(full[1])[k])[1])[1]) == I(13 * k));
    TableSel(tab, I(13 * 40), I(40));
    ALGEB b = Buckets(tab);
    ASSERT_EQ(LENGTH(b), 30);
    WORD total = 0;
    for (WORD j = 1; j < LENGTH(b); j++)
        total += Entries(A(b[j]));
    EXPECT_EQ(total, 40);
    for (WORD m = 1; m <= 40; m++)
        EXPECT_TRUE(TableSel(tab, I(13 * m), 0) == I(m));
    // Storing again replaces the values; a sequence is kept as it is.
    ALGEB two = Seq({I(1), I(2)});
    EXPECT_EQ(TableSel(tab, I(13), two), two);
    EXPECT_EQ(TableSel(tab, I(13), 0), two);
    EXPECT_EQ(LENGTH(Buckets(tab)), 30);
}

} // namespace
