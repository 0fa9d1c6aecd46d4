// The lexer: tokens and their numbers, decimal conversion, help lines, echo and shell escapes.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

#include "testkit.h"

namespace {

using namespace testkit;

class LexTest : public TempDir, public KernelTest {
  protected:
    void SetUp() override {
        optquiet = 0;
        echo = 1;
    }
};

// ---------------------------------------------------------------------------
// Decimal conversion against the C library, which rounds correctly.

double Strtod(const std::string &digits, int n) {
    std::string s = "0." + digits + "e" + std::to_string(n);
    return strtod(s.c_str(), nullptr);
}

// Exact decimal digits (no point, no trailing zeros) and exponent n of x = 0.digits * 10^n.
void ExactDigits(long double x, std::string &digits, int &n) {
    std::vector<char> buf(1200);
    snprintf(buf.data(), buf.size(), "%.1100Le", x);
    std::string s = buf.data();
    size_t e = s.find('e');
    digits = s.substr(0, 1) + s.substr(2, e - 2);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    n = atoi(s.c_str() + e + 1) + 1;
}

// The digit string one unit in its last place lower.
std::string Decrement(std::string d) {
    size_t i = d.size();
    while (i-- > 0) {
        if (d[i] != '0') {
            d[i]--;
            break;
        }
        d[i] = '9';
    }
    return d;
}

TEST_F(LexTest, String2DoubleMatchesRandomInputs) {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 20000; i++) {
        int k = 1 + (int)(rng() % (i % 10 == 0 ? 400 : 40));
        std::string d(1, (char)('1' + rng() % 9));
        for (int j = 1; j < k; j++)
            d += (char)('0' + rng() % 10);
        int n = -307 + (int)(rng() % 617);
        if (i % 7 == 0) n = k - (int)(rng() % 60); // near and below the integers
        if (n < -307) n = -307;
        if (n > 309) n = 309;
        ASSERT_EQ(string2double(d.c_str(), n), Strtod(d, n)) << d << "e" << n;
    }
}

// Values exactly halfway between two doubles, and just beside them: the hardest cases.
TEST_F(LexTest, String2DoubleRoundsHalfwayCasesToEven) {
    std::mt19937_64 rng(777);
    int tested = 0;
    for (int i = 0; i < 6000; i++) {
        double x;
        if (i % 4 == 0) {
            x = 1e-308 + (double)(rng() % 1000000) * 1.2e-314; // subnormals in range
        } else {
            uint64_t bits = rng() & 0x7FEFFFFFFFFFFFFFull;
            memcpy(&x, &bits, sizeof x);
        }
        double y = nextafter(x, INFINITY);
        long double mid = ((long double)x + (long double)y) / 2;
        std::string d;
        int n;
        ExactDigits(mid, d, n);
        if (n < -307 || n > 309) continue;
        tested++;
        double even = (DoubleBits(x) & 1) == 0 ? x : y;
        ASSERT_EQ(string2double(d.c_str(), n), even) << d << " " << n;
        ASSERT_EQ(string2double((d + "000001").c_str(), n), y) << d << " " << n;
        std::string below = Decrement(d + std::string(25, '0'));
        ASSERT_EQ(string2double(below.c_str(), n), x) << d << " " << n;
    }
    EXPECT_GT(tested, 2000);
}

TEST_F(LexTest, String2DoubleEdges) {
    EXPECT_EQ(string2double("", 0), 0.0);
    EXPECT_EQ(string2double("", 500), 0.0);
    EXPECT_EQ(string2double("00012", 5), 12.0);
    EXPECT_EQ(string2double("12345678901234", 14), 12345678901234.0);
    EXPECT_EQ(string2double("9007199254740993", 16), 9007199254740992.0);
    EXPECT_EQ(string2double("9007199254740995", 16), 9007199254740996.0);
    EXPECT_EQ(string2double("17976931348623157", 309), DBL_MAX);
    EXPECT_EQ(string2double("17976931348623159", 309), INFINITY);
    EXPECT_EQ(string2double("99", 309), INFINITY);
    EXPECT_EQ(string2double("1", -307), 1e-308);
    EXPECT_EQ(string2double("22250738585072011", -307), Strtod("22250738585072011", -307));
    EXPECT_EQ(string2double("22250738585072014", -307), DBL_MIN);
    for (int n : {310, -308, 100000, -100000}) {
        EXPECT_THROW(string2double("1", n), Unwind) << n;
        EXPECT_STREQ(NAMETEXT(A(ININlasterror[1])), "numeric too large/small");
    }
}

TEST_F(LexTest, PowersOfTen) {
    for (int k = -323; k <= 308; k++) {
        std::string s = "1e" + std::to_string(k);
        ASSERT_EQ(Pow10(k), strtod(s.c_str(), nullptr)) << k;
    }
}

// Numbers read as literals, with the digits the lexer keeps.
TEST_F(LexTest, LiteralsMatchTheLibrary) {
    std::mt19937_64 rng(99);
    for (int i = 0; i < 2000; i++) {
        std::string lit;
        int before = (int)(rng() % 30), after = (int)(rng() % 30);
        for (int j = 0; j < before; j++)
            lit += (char)('0' + rng() % 10);
        lit += ".";
        for (int j = 0; j < after; j++)
            lit += (char)('0' + rng() % 10);
        if (before + after == 0) lit = "7";
        if (rng() % 2) lit += "e" + std::to_string((int)(rng() % 80) - 40);
        if (lit[0] == '.' && (lit.size() == 1 || lit[1] == 'e')) continue;
        ALGEB x = LumbraParse(lit.c_str(), (int)lit.size());
        ASSERT_TRUE(numeric(x)) << lit;
        ASSERT_EQ(DBL(x), strtod(lit.c_str(), nullptr)) << lit;
    }
}

// ---------------------------------------------------------------------------
// Lines: help requests, echo, shell escapes.

std::string Help(const char *line) {
    char buf[IBUFFLEN];
    strcpy(buf, line);
    converthelp(buf);
    return buf;
}

TEST_F(LexTest, HelpRequests) {
    EXPECT_EQ(Help("?\n"), "help();\n");
    EXPECT_EQ(Help("??:\n"), "help();\n");
    EXPECT_EQ(Help("?a,b/c\n"), "help('a','b','c');\n");
    EXPECT_EQ(Help("?a.b\n"), "help('ab');\n");
    EXPECT_EQ(Help("?..a[.b.c]\n"), "help('..a','.bc');\n");
    std::string longtopic(200, 't');
    EXPECT_EQ(Help(("?" + longtopic + "\n").c_str()), "help('" + std::string(89, 't') + "');\n");
}

TEST_F(LexTest, EchoLevels) {
    // Whether each echo level 0..6 echoes a file one, then two levels above standard input
    // (- for a level not tried).
    for (const char *expected : {"00-1111", "-0-1-01"}) {
        Open("a;\n");
        for (echo = 0; echo <= 6; echo++)
            if (expected[echo] != '-') {
                EXPECT_EQ(shouldecho(), expected[echo] - '0') << echo;
            }
    }
    echo = 4;
    optquiet = 1;
    EXPECT_EQ(shouldecho(), 0);
    optquiet = 0;
    // The output of a command is never echoed.
    ASSERT_EQ(Ropen("echo a", 1), 1);
    EXPECT_EQ(shouldecho(), 0);
}

TEST_F(LexTest, EchoedLines) {
    Open("# note\na;\n\n#long \\\ncomment\nb;\n");
    echo = 4;
    testing::internal::CaptureStdout();
    size_t n = ReadStatements().size();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "# note\n> a;\n> \n#long \\\n#comment\n> b;\n");
    EXPECT_EQ(n, 2u);
}

TEST_F(LexTest, ShellEscapes) {
    Open("a;\n  !echo from the shell\nb;\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadStatements().size(), 2u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "from the shell\n!\n");
    optserver = 1;
    Open("!echo refused\nb;\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadStatements().size(), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot escape as a server\n");
}

} // namespace
