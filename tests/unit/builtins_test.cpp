// The list of built-in numbers against the library, raw lines and case conversion: the routines
// of the built-in dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "builtins.h"
#include "testkit.h"

namespace {

using namespace testkit;

class BuiltinsTest : public TempDir, public KernelTest {};

// The options of a declaration `Name := proc(...) option a, b; ... N end:`, one a word.
std::vector<std::string> OptionsOf(const std::string &line) {
    size_t at = line.find(") option ");
    if (at == std::string::npos) return {};
    std::istringstream words(line.substr(at + 9, line.find(';', at) - at - 9));
    std::vector<std::string> options;
    for (std::string w; std::getline(words, w, ',');)
        options.push_back(w.substr(w.find_first_not_of(' ')));
    return options;
}

bool Has(const std::vector<std::string> &words, const char *w) {
    return std::find(words.begin(), words.end(), w) != words.end();
}

// Every declaration of a built-in in the library names a number of the list, under the list's
// name and in its table; every line of the list is declared there.
TEST(BuiltinListTest, MatchesTheDeclarationsOfTheLibrary) {
    std::ifstream in(std::string(LUMBRA_LIBDIR) + "/lumbrait");
    ASSERT_TRUE(in) << "cannot read " << LUMBRA_LIBDIR << "/lumbrait";
    std::vector<bool> declared(std::size(builtinlist));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> options = OptionsOf(line);
        if (line[0] == '#' || !Has(options, "builtin")) continue;
        size_t name_end = line.find(" := proc("), end = line.rfind(" end");
        size_t digits = line.find_last_not_of("0123456789", end - 1) + 1;
        ASSERT_TRUE(name_end != std::string::npos && end != std::string::npos && digits < end)
            << "not read as a declaration: " << line;
        std::string name = line.substr(0, name_end);
        int number = std::stoi(line.substr(digits, end - digits));
        bool numeric = Has(options, "numeric");
        size_t k = 0;
        while (k < std::size(builtinlist) &&
               (builtinlist[k].number != number ||
                (builtinlist[k].table == BuiltinTable::Numeric) != numeric))
            k++;
        if (k == std::size(builtinlist)) {
            ADD_FAILURE() << name << " has a number that is not in the list: " << number;
            continue;
        }
        std::string listed = builtinlist[k].name;
        if (listed.back() == '_') listed.pop_back();
        EXPECT_EQ(listed, name) << "number " << number;
        declared[k] = true;
    }
    for (size_t k = 0; k < std::size(builtinlist); k++)
        EXPECT_TRUE(declared[k]) << builtinlist[k].name << " is not declared in lib/lumbrait";
}

// Raw lines keep their line end and come in pieces of 99999 characters; the end of the file,
// read as EOF, closes the unit.
TEST_F(BuiltinsTest, RawLines) {
    Open(std::string(100005, 'x') + "\nlast line without end");
    int unit = r_unit0;
    EXPECT_EQ(Text(ReadRawLine()).size(), 99999u);
    EXPECT_EQ(Text(ReadRawLine()), "xxxxxx\n");
    EXPECT_EQ(Text(ReadRawLine()), "last line without end");
    EXPECT_EQ(r_unit0, unit);
    EXPECT_EQ(Text(ReadRawLine()), "EOF");
    EXPECT_EQ(r_unit0, unit - 1);
}

// Views convert through their own characters, into new texts.
TEST_F(BuiltinsTest, CaseConversionOfViews) {
    ALGEB s = CreateString("Mixed Case 1.5");
    ALGEB view = New3(TEXT, A(3), A(STR(s)->t + 6));
    EXPECT_EQ(Text(uppercase(view)), "CAS");
    EXPECT_EQ(Text(lowercase(s)), "mixed case 1.5");
    EXPECT_EQ(Text(s), "Mixed Case 1.5");
}

} // namespace
