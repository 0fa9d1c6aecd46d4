// Standard input read without a terminal: byte-order marks, what ends the input, and dropping
// the rest of a line or of the input. Editing at a terminal is tested in tests/cli/editor.sh.
#include <gtest/gtest.h>

#include "cmdedit.h"
#include "testkit.h"

namespace {

using namespace testkit;

class CmdEditTest : public TempDir, public KernelTest {
  protected:
    // What is read from the text, line by line, up to the end. The unit stays open until the
    // test ends, so that no two texts are read through one stream.
    std::string ReadAll(const std::string &text) {
        Write("in" + std::to_string(r_unit0), text);
        EXPECT_EQ(Ropen(Path("in" + std::to_string(r_unit0)).c_str(), 0), 1);
        std::string all;
        char buf[8];
        while (ReadLineFromCmdEdit(buf, sizeof buf, "") != 0)
            all += buf;
        return all;
    }
    void TearDown() override { CloseAllInput(); }
};

// Byte-order marks and a binary first byte are also read by the stdin transcripts.
TEST_F(CmdEditTest, MarksAndTheEndOfTheInput) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"a\nlonger line\nlast", "a\nlonger line\nlast"},
        {"\xff\xfe\x61\0\x3a\x26\x62\0"s, "a"}, // a character beyond one byte ends it
        {"\xff\x61\n", ""},                     // half a mark
        {"\ta\n", "\ta\n"},                     // a control character 8..13 may come first
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(ReadAll(in), out) << in;
}

// Lines longer than the buffer come in pieces; the prompt goes to standard output.
TEST_F(CmdEditTest, PiecesAndDroppingTheRest) {
    Open("abcdef\ngh\nijklm\nno\n");
    optquiet = 0;
    char buf[4];
    testing::internal::CaptureStdout();
    ASSERT_EQ(ReadLineFromCmdEdit(buf, sizeof buf, "> "), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "> ");
    EXPECT_STREQ(buf, "abc");
    DiscardRestOfLine();
    for (const char *piece : {"gh\n", "ijk", "lm\n"}) {
        ASSERT_EQ(ReadLineFromCmdEdit(buf, sizeof buf, ""), 1);
        EXPECT_STREQ(buf, piece);
    }
    DiscardRestOfFile();
    EXPECT_EQ(ReadLineFromCmdEdit(buf, sizeof buf, ""), 0);
    Rclose();
}

} // namespace
