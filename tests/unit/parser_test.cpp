// Statement and expression trees built by the grammar, from strings and from input files.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using namespace testkit;

class ParserTest : public KernelTest {
  protected:
    static std::string Tree(const std::string &s) { return DumpTree(Parse(s)); }

    // The message of the user error raised by parsing s, or "" when there is none.
    static std::string ErrorOf(const std::string &s) {
        if (!RaisesError([&] { Parse(s); })) return "";
        ALGEB e = A(ININlasterror[1]);
        return ID(e) == NAME ? NAMETEXT(e) : "(not a name)";
    }
};

// The shape of the trees the grammar builds, one case per rule.
TEST_F(ParserTest, Trees) {
    const std::pair<const char *, const char *> cases[] = {
        {"a := b := 3", "ASSIGN(a,b,3)"},
        {"a, b := 1, 2", "ASSIGN(EXPSEQ(a,b),EXPSEQ(1,2))"},
        {"for i to 3 do od", "FOR(i,1,1,3,true,EXPSEQ())"},
        // Clauses in any order; absent ones take their defaults.
        {"for i to 5 by 2 from 0 while i < 4 do x od", "FOR(i,0,2,5,LESSTHAN(i,4),x)"},
        {"while c do x; y od", "FOR(EXPSEQ(),1,1,EXPSEQ(),c,STATSEQ(x,y))"},
        {"for a[1] from 2 do od", "FOR(TABLEREF(a,1),2,1,EXPSEQ(),true,EXPSEQ())"},
        {"for x in a, b while x > 0 do od", "FOR(x,EXPSEQ(a,b),LESSTHAN(0,x),EXPSEQ())"},
        {"in L do od", "FOR(EXPSEQ(),L,true,EXPSEQ())"},
        {"if a then b elif c then d elif e then f fi", "IF(a,b,c,d,e,f)"},
        {"if a then else x; fi", "IF(a,EXPSEQ(),x)"},
        {"do a; ; b: od", "FOR(EXPSEQ(),1,1,EXPSEQ(),true,STATSEQ(a,b))"},
        {"do ; a od", "FOR(EXPSEQ(),1,1,EXPSEQ(),true,STATSEQ(EXPSEQ(),a))"},
        {"do a; quit od", "FOR(EXPSEQ(),1,1,EXPSEQ(),true,STATSEQ(a,STOP()))"},
        {"(a + b) + c", "SUM(a,b,c)"},
        {"a + (b + c)", "SUM(a,SUM(b,c))"},
        {"-x^2", "PROD(-1,POWER(x,2))"},
        {"- a * b", "PROD(-1,a,b)"},
        {"2 * 3", "6"},
        // Numeric factors multiply into one coefficient, first; the others keep their order.
        {"2 * x * 3", "PROD(6,x)"},
        {"2 * y * (0.5 * x)", "PROD(y,x)"},
        {"1 * x", "x"},
        {"2 * 0.5", "1"},
        {"x!!", "FUNCTION(factorial,FUNCTION(factorial,x))"},
        {"|a - b|", "FUNCTION(abs,SUM(a,PROD(-1,b)))"},
        {"a union b minus c", "FUNCTION(minus,FUNCTION(union,a,b),c)"},
        {"a + b * c ^ d", "SUM(a,PROD(b,POWER(c,d)))"},
        {"a/b/c", "PROD(a,POWER(b,-1),POWER(c,-1))"},
        {"a >= b", "LESSEQ(b,a)"},
        {"not a = b", "NOT(EQUATION(a,b))"},
        {"a or b and c", "OR(a,AND(b,c))"},
        {"a and b or c", "OR(AND(a,b),c)"},
        {"1...5", "RANGE(1,5)"},
        {"a .. -b", "RANGE(a,PROD(-1,b))"},
        {"a.b.c", "CATENATE(CATENATE(a,b),c)"},
        {"f(x)(y)", "FUNCTION(FUNCTION(f,x),y)"},
        {"f((a, b), c)", "FUNCTION(f,a,b,c)"},
        {"a[i][j]", "TABLEREF(a,i,j)"},
        {"a[]", "a"},
        {"'abc'(1)", "FUNCTION('abc',1)"},
        {"[[]]", "LIST(EXPSEQ(LIST(EXPSEQ())))"},
        {"{a}", "SET(EXPSEQ(a))"},
        {"module local a; a := 1 end",
         "PROC(EXPSEQ(),EXPSEQ(EXPSEQ(a),EXPSEQ()),EXPSEQ(),EXPSEQ(),EXPSEQ(),ASSIGN(a,1))"},
        {"x -> x + 1", "PROC(EXPSEQ(x),EXPSEQ(EXPSEQ(),EXPSEQ()),EXPSEQ(operator,arrow),"
                       "EXPSEQ(),EXPSEQ(),SUM(x,1))"},
        {"f := x -> x, 2", "ASSIGN(f,EXPSEQ(PROC(EXPSEQ(x),EXPSEQ(EXPSEQ(),EXPSEQ()),"
                           "EXPSEQ(operator,arrow),EXPSEQ(),EXPSEQ(),x),2))"},
        {"a; b: c", "STATSEQ(a,b,c)"},
        {"done; stop", "STATSEQ(STOP(),STOP())"},
        {"a; # a comment; b\n c", "STATSEQ(a,c)"},
        {"a <> b ** 2.5", "INEQUAT(a,POWER(b,2.5))"},
        {"a intersect 'ab'", "FUNCTION(intersect,a,'ab')"},
    };
    for (auto &[src, tree] : cases)
        EXPECT_EQ(Tree(src), tree) << src;
    EXPECT_EQ(A(Parse("for i to 3 do od")[6]), null);
    EXPECT_EQ(Parse("{}"), EmptySet);
    EXPECT_EQ(Parse("[]"), EmptyList);
    EXPECT_EQ(Parse("\"\""), ininame[1]);
    EXPECT_EQ(A(Parse("() -> 1")[1]), null);
    EXPECT_EQ(A(Parse("module local a; a := 1 end")[1]), ModuleNull);
    EXPECT_EQ(Parse(" ; : ;"), nullptr);
    // Only the bytes given count, even with more behind them.
    EXPECT_EQ(DumpTree(LumbraParse("ab; cd", 1)), "a");
    EXPECT_EQ(Tree(std::string(139997, ' ') + "ab"), "ab");
    EXPECT_EQ(Parse(std::string(2000, '(') + "1" + std::string(2000, ')')), MKIMM(1));
}

TEST_F(ParserTest, Errors) {
    const std::pair<std::string, const char *> cases[] = {
        {"for i from 1 from 2 do od", "repeated from part"},
        {"for i by 1 to 3 by 2 do od", "repeated by part"},
        {"for i to 1 to 2 do od", "repeated to part"},
        {"while a while b do od", "repeated while part"},
        {"x/0.0", "division by zero"},
        {"proc(x = 1/0) end", "division by zero"},
        {"proc(a, b[1]) end", "parameter is not a symbol or symbol:type"},
        {"proc(a:integer, 1:b) end", "parameter is not a symbol or symbol:type"},
        {"1.2.3", "multiple dots in decimal number"},
        {"1e400", "numeric too large/small"},
        {"1e-320", "numeric too large/small"},
        {"9e308", "unable to represent result"},
        {std::string(140000, ' '), "string to parse is too long"},
        {std::string(12000, '(') + "1" + std::string(12000, ')'), "memory exhausted"},
    };
    for (auto &[src, message] : cases)
        EXPECT_EQ(ErrorOf(src), message) << src.substr(0, 40);
    // The string is parsed in a unit of its own, which is gone afterwards.
    int depth = r_unit0;
    for (const char *s :
         {"a := ", "for i in L from 1 do od", "2^-1", "a < b < c", "(a)[1]", "a + -b", "a^b^c",
          "a b", "proc(a) a", "@", "x -> ()", "\xe9", "[1,2][1]", "options", "x.5",
          "proc(x) local a; local b; end", "proc(proc() end) end"})
        EXPECT_EQ(ErrorOf(s), "syntax error") << s;
    EXPECT_EQ(r_unit0, depth);
}

TEST_F(ParserTest, ParsingKeepsTheCallersStatement) {
    ALGEB outer = naminstall("outer");
    parsestat = outer;
    prtflag = 0;
    EXPECT_EQ(Tree("a; b;"), "STATSEQ(a,b)");
    ErrorOf("a + ;");
    EXPECT_EQ(parsestat, outer);
    EXPECT_EQ(prtflag, 0);
}

// Sequences grown while parsing leave their spare words behind them; a collection walks
// over those and hands them out again without touching the sequences.
TEST_F(ParserTest, GrownSequencesSurviveACollection) {
    std::string list = "[", body;
    for (int i = 1; i <= 3000; i++)
        list += std::to_string(i) + (i < 3000 ? "," : "]");
    for (int i = 0; i < 200; i++)
        body += "x" + std::to_string(i) + ";";
    ALGEB keep = naminstall("parserTestKeep");
    keep[1] = W(New3(EXPSEQ, Parse(list), Parse("do " + body + " od")));
    optquiet = 1;
    Collect();
    for (int i = 0; i < 20000; i++)
        New3(LIST, MKIMM(-1), null);
    ALGEB e = A(A(A(keep[1])[1])[1]), b = A(A(A(keep[1])[2])[6]);
    ASSERT_TRUE(IDLENGTH(e, EXPSEQ, 3001));
    for (int i = 1; i <= 3000; i++)
        ASSERT_EQ(A(e[i]), MKIMM(i));
    ASSERT_TRUE(IDLENGTH(b, STATSEQ, 201));
    for (int i = 0; i < 200; i++)
        EXPECT_EQ(DumpTree(A(b[i + 1])), "x" + std::to_string(i));
    keep[1] = 0;
}

TEST_F(ParserTest, Procedures) {
    ALGEB p = Parse("proc(a, b; c = 1) end");
    EXPECT_EQ(DumpTree(p), "PROC(EXPSEQ(a,b),EXPSEQ(EXPSEQ(),EXPSEQ()),EXPSEQ(),EXPSEQ(),"
                           "EXPSEQ(),EXPSEQ(),EXPSEQ(EQUATION(c,1)))");
    // Missing declarations: a new empty locals sequence, the shared null for the rest.
    EXPECT_NE(A(A(p[2])[1]), null);
    EXPECT_EQ(A(A(p[2])[2]), null);
    EXPECT_EQ(A(p[3]), null);
    EXPECT_EQ(Tree("proc(x:integer, y) -> list; local s, t; global g; option remember, "
                   "trace; description 'adds'; s := x; s end"),
              "PROC(EXPSEQ(COLON(x,integer),y),EXPSEQ(EXPSEQ(s,t),EXPSEQ(g)),"
              "EXPSEQ(remember,trace),'adds',list,STATSEQ(ASSIGN(s,x),s))");
    EXPECT_EQ(Tree("proc() external e; local l; end"),
              "PROC(EXPSEQ(),EXPSEQ(EXPSEQ(l),EXPSEQ(e)),EXPSEQ(),EXPSEQ(),EXPSEQ(),EXPSEQ())");
    p = Parse("proc(; c, d:integer = 2) options x: description y: 1 end");
    EXPECT_EQ(A(p[1]), null);
    EXPECT_EQ(DumpTree(A(p[7])), "EXPSEQ(c,COLON(d,EQUATION(integer,2)))");
    EXPECT_EQ(A(Parse("proc(a;) end")[7]), null);
    // Types in parameters always build new sets and lists.
    p = Parse("proc(x:{}, y:[]) end");
    ALGEB set = A(A(A(p[1])[1])[2]), list = A(A(A(p[1])[2])[2]);
    EXPECT_TRUE(IDLENGTH(set, SET, 2) && set != EmptySet);
    EXPECT_TRUE(IDLENGTH(list, LIST, 2) && list != EmptyList);
}

TEST_F(ParserTest, PrintedTreesReadBack) {
    static char buf[PRINTBUFSIZE];
    for (const char *s : {"a + b * c",   "-x^2",       "a - 2*b",
                          "(a + b) * c", "(a*b)^c",    "a > b",
                          "a >= b",      "not a = b",  "a and (b or c)",
                          "f(x)(y)",     "a[i, j]",    "[1, 2.5, {3}, []]",
                          "a..b",        "a.b.c",      "x/2",
                          "|x - y|",     "x!",         "a union b minus c",
                          "-(a + b)",    "x -> x + 1", "proc(a, b:integer) local t; t := a; t end",
                          "1e-5",        "f()"}) {
        ALGEB t = Parse(s);
        PrintIntoBuffer(t, buf);
        std::string error = ErrorOf(buf);
        EXPECT_EQ(error.empty() ? Tree(buf) : error, DumpTree(t)) << s << " printed as " << buf;
    }
}

// A literal whose digits beyond any fixed number decide the rounding: the midpoint of 1 and
// the next double, followed by many zeros and a final 1, is above the midpoint.
TEST_F(ParserTest, LongNumbersRoundOnAllTheirDigits) {
    std::string mid = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(DBL(Parse(mid + std::string(1000, '0') + "1")), 1 + 0x1p-52);
    EXPECT_EQ(Parse(mid + std::string(1000, '0')), MKIMM(1));
    EXPECT_EQ(Parse("1.000000000000000111022302462515654042363166809082031249999"), MKIMM(1));
    // Digits before the point count towards the exponent even when dropped.
    EXPECT_EQ(DBL(Parse(std::string(300, '9'))), 1e300);
}

TEST_F(ParserTest, StringsEscapesAndNames) {
    std::string n499(499, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"'it''s'", "'it's'"},
        {"'a\n# not a comment\nb'", "'a\n# not a comment\nb'"},
        {"ab\\\ncd", "abcd"},
        {"12\\\n34", "1234"},
        {"'\\a\\b\\f\\r\\v\\t\\n'", "'\a\b\f\r\v\t\n'"},
        {"'\\1012'", "'A2'"},
        {"'\\400'", "' 0'"},
        {"'\\377'", "'\xff'"},
        {"'\\\\\\q'", "'\\q'"},
        // An escaped quote is still a quote, and escapes work outside strings too.
        {"'ab\\'", "'ab'"},
        {"f\\(x)", "FUNCTION(f,x)"},
        {"a # comment \\\n; b", "STATSEQ(a,b)"},
        {"_a1_", "_a1_"},
        {n499, n499},
    };
    for (auto &[src, tree] : cases)
        EXPECT_EQ(Tree(src), tree) << src;
    EXPECT_EQ(Parse("''"), OneChar[0]);
    EXPECT_EQ(Parse("''''"), OneChar['\'']);
    ALGEB t = Parse("'abcdefghij'");
    EXPECT_EQ(LENGTH(t), 10 / 8 + 5);
    EXPECT_EQ(STR(t)->t[10], 0);
    // A string running to the end is abandoned with the rest of the input.
    EXPECT_EQ(Parse("'unterminated"), nullptr);
    EXPECT_EQ(ErrorOf("a := 'unterminated"), "syntax error");
    EXPECT_EQ(ErrorOf("a\\0"), "syntax error");
    EXPECT_EQ(Parse("\"\"\""), ininame[2]);
    EXPECT_EQ(ErrorOf("\"\"\"\""), "syntax error");
    EXPECT_EQ(ErrorOf(n499 + "n"), "symbol too long, if it is a string, enclose it in quotes (')");
}

// ---------------------------------------------------------------------------
// Statements read from files: terminators, acceptance and the syntax-error report.

class FileParseTest : public TempDir, public ParserTest {
  protected:
    UnitCapture out;
};

// A statement is complete when its terminator has been read: the next line stays unread.
TEST_F(FileParseTest, AcceptanceReadsNoFurther) {
    Open("x := 1; y := 2;\nz;\nquit\nw;\n");
    const std::pair<const char *, int> reads[] = {
        {"ASSIGN(x,1)", 1}, {"ASSIGN(y,2)", 1}, {"z", 2}, {"STOP()", 3}};
    for (auto [tree, line] : reads) {
        EXPECT_EQ(DumpTree(ReadStatement()), tree);
        EXPECT_EQ(Yyline, line) << tree;
    }
    EXPECT_EQ(ReadStatements(), std::vector<std::string>{"w"});
}

TEST_F(FileParseTest, ReportsAndRecovery) {
    std::string list = "x := [", tree = "ASSIGN(x,LIST(EXPSEQ(";
    for (int i = 0; i < 1500; i++) {
        list += std::to_string(i) + ",";
        tree += std::to_string(i) + ",";
    }
    std::string longname(450, 'q');
    const struct {
        std::string in;
        std::vector<std::string> statements;
        std::string report;
    } cases[] = {
        {"x := 1/0; y;\nfor i from 1 from 2 do od;\nz;\n",
         {"z"},
         "on line 1, division by zero:\nx := 1/0; y;\n         ^\n"
         "on line 2, repeated from part:\nfor i from 1 from 2 do od;\n                      ^\n"},
        {"a;\n" + std::string(12000, '[') + " c;\nb;\n",
         {"a", "b"},
         "on line 2, memory exhausted:\n"},
        {"a;\nb := (1 +\n", {"a"}, "on line 2, unexpected end of file:\n"},
        {"a 'open string\nand more\n", {}, "on line 2, unexpected end of file:\n"},
        {"a; b # comment without newline", {"a"}, "on line 1, unexpected end of file:\n"},
        {"a := \x01 \xe9;\tb;\n",
         {},
         "on line 1, syntax error:\na :=    ;\tb;\n      ^\nWarning, unprintable characters in "
         "input\n"},
        {"\ta\t) b;\n", {}, "on line 1, syntax error:\n\ta\t) b;\n\t \t ^\n"},
        {std::string(990, ' ') + longname + ";\n" + list + "1500];\n#" + std::string(2500, 'c') +
             "\ny;\n",
         {longname, tree + "1500)))", "y"},
         ""},
        {"?sort\n  ? Align[Local] ;\n",
         {"FUNCTION(help,'sort')", "FUNCTION(help,'Align','Local')"},
         ""},
    };
    for (auto &c : cases) {
        UnitCapture report;
        Open(c.in);
        EXPECT_EQ(ReadStatements(), c.statements) << c.in.substr(0, 40);
        std::string o = report.Written();
        EXPECT_EQ(o.substr(0, c.report.size()), c.report);
        if (c.report.empty()) {
            EXPECT_EQ(o, "");
        }
    }
}

TEST_F(FileParseTest, ErrorInALongLineShowsTheLastCharacters) {
    Open(std::string(1500, ' ') + "a b;" + std::string(3000, ' ') + "lost;\nc;\n");
    EXPECT_EQ(ReadStatements(), std::vector<std::string>{"c"});
    std::string o = out.Written();
    EXPECT_EQ(o.substr(0, 25), "on line 1, syntax error:\n");
    EXPECT_NE(o.find("a b;  "), std::string::npos);
    EXPECT_LT(o.size(), 25 + 2 * 1002u);
}

TEST_F(FileParseTest, NulCharactersAreRefused) {
    Open(std::string("\0x;\ny;\n", 7));
    int depth = r_unit0;
    EXPECT_THROW(ReadStatement(), Unwind);
    EXPECT_STREQ(NAMETEXT(A(ININlasterror[1])), "invalid characters in input");
    EXPECT_EQ(r_unit0, depth - 1);
}

// Pushing and popping a unit in the middle of a line loses nothing of that line.
TEST_F(FileParseTest, NestedUnitsContinueTheOuterOne) {
    Write("inner", "i1; i2;\n");
    Open("o1;o2;\no3;\n");
    EXPECT_EQ(DumpTree(ReadStatement()), "o1");
    EXPECT_EQ(Tree("x"), "x");
    ASSERT_EQ(Ropen(Path("inner").c_str(), 0), 1);
    EXPECT_EQ(ReadStatements(), (std::vector<std::string>{"i1", "i2"}));
    EXPECT_EQ(ReadStatements(), (std::vector<std::string>{"o2", "o3"}));
}

} // namespace
