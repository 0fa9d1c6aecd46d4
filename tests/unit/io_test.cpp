// Input units (files, pipes, compressed files, the offset file) and output redirection.
#include <gtest/gtest.h>

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include "testkit.h"

namespace {

using namespace testkit;

class IoTest : public TempDir, public KernelTest {
  protected:
    void Gzip(const std::string &from, const std::string &to) {
        std::string cmd = "gzip -c \"" + Path(from) + "\" > \"" + Path(to) + "\"";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
};

// The lines of the current unit, as the lexer would get them.
std::string ReadUnit() {
    std::string all;
    char line[IBUFFLEN];
    while (fgets(line, sizeof line, R_unit) != nullptr)
        all += line;
    return all;
}

int OpenDescriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (readdir(d) != nullptr)
        n++;
    closedir(d);
    return n;
}

// A missing name is looked for with .Z, then with .gz appended; names are not shell words.
TEST_F(IoTest, CompressedFilesAreReadThroughGunzip) {
    Write("data", "compressed line\n");
    Write("other", "from Z\n");
    Write("it's here", "quoted\n");
    for (auto [from, to] : {std::pair{"data", "data.gz"},
                            {"data", "only.gz"},
                            {"other", "both.Z"},
                            {"data", "both.gz"},
                            {"it's here", "it's here.gz"}})
        Gzip(from, to);
    for (auto [name, text] : {std::pair{"data.gz", "compressed line\n"},
                              {"only", "compressed line\n"},
                              {"both", "from Z\n"},
                              {"it's here.gz", "quoted\n"}}) {
        ASSERT_EQ(Ropen(Path(name).c_str(), 0), 1) << name;
        EXPECT_EQ(Type_input, 1) << name;
        EXPECT_EQ(ReadUnit(), text) << name;
        Rclose();
    }
}

// Bare suffixes are ordinary names in the current directory.
TEST_F(IoTest, BareSuffixesAreOrdinaryNames) {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    for (const char *name : {".Z", ".gz"}) {
        Write(name, name);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        int opened = Ropen(name, 0), type = Type_input;
        std::string text = opened ? ReadUnit() : "";
        if (opened) Rclose();
        ASSERT_EQ(chdir(cwd), 0);
        EXPECT_EQ(opened, 1) << name;
        EXPECT_EQ(type, 0) << name;
        EXPECT_EQ(text, name);
    }
}

TEST_F(IoTest, AtMostNineUnitsAboveStandardInput) {
    Write("f", "x\n");
    for (int i = 1; i <= 9; i++)
        ASSERT_EQ(Ropen(Path("f").c_str(), 0), 1);
    EXPECT_EQ(r_unit0, 9);
    FILE *top = R_unit;
    EXPECT_EQ(ErrorOf([&] { Ropen(Path("f").c_str(), 0); }),
              "too many files simultaneously open for reading");
    EXPECT_EQ(r_unit0, 9);
    EXPECT_EQ(R_unit, top);
    // Parsing a string needs a unit too.
    EXPECT_EQ(ErrorOf([] { Parse("a"); }), "too many files simultaneously open for reading");
    EXPECT_EQ(r_unit0, 9);
    CloseAllInput();
    EXPECT_EQ(r_unit0, 0);
    EXPECT_EQ(R_unit, stdin);
}

TEST_F(IoTest, OverlongNamesAreRefused) {
    std::string name(3000, 'n');
    EXPECT_EQ(Ropen(name.c_str(), 0), 0);
    name += 'n';
    EXPECT_EQ(ErrorOf([&] { Ropen(name.c_str(), 0); }), "i/o command too long");
    ALGEB culprit = A(A(ININlasterror[1])[1]);
    EXPECT_EQ(ID(culprit), TEXT);
    EXPECT_EQ(STR(culprit)->length, 3001);
    EXPECT_EQ(r_unit0, 0);
}

TEST_F(IoTest, OffsetReadsShareOneStream) {
    Write("first", "line1\nline2\n");
    Write("second", "other\n");
    // An offset file kept open by an earlier test in this process is closed by the first open.
    int before = OpenDescriptors() - (OfsFile != nullptr ? 1 : 0);

    ASSERT_EQ(RopenOfs(Path("first").c_str(), 6), 1);
    EXPECT_EQ(Type_input, OFSREAD);
    EXPECT_EQ(R_unit, OfsFile);
    EXPECT_EQ(ReadUnit(), "line2\n");
    FILE *stream = OfsFile;
    RcloseOfs();
    EXPECT_EQ(r_unit0, 0);
    EXPECT_EQ(R_unit, stdin);
    EXPECT_EQ(OpenDescriptors(), before + 1) << "the offset file stays open";

    // Still open, the stream reads the file even under another name.
    ASSERT_EQ(rename(Path("first").c_str(), Path("moved").c_str()), 0);
    ASSERT_EQ(RopenOfs(Path("first").c_str(), 0), 1);
    EXPECT_EQ(OfsFile, stream);
    EXPECT_EQ(ReadUnit(), "line1\nline2\n");
    RcloseOfs();

    ASSERT_EQ(RopenOfs(Path("second").c_str(), 0), 1);
    EXPECT_STREQ(OfsName, Path("second").c_str());
    EXPECT_EQ(ReadUnit(), "other\n");
    RcloseOfs();
    EXPECT_EQ(OpenDescriptors(), before + 1) << "the first offset file is closed";

    EXPECT_EQ(RopenOfs(Path("absent").c_str(), 0), 0);
    EXPECT_STREQ(OfsName, "");
    EXPECT_EQ(r_unit0, 0);
    EXPECT_EQ(OpenDescriptors(), before);
}

// Redirected output goes to a file of its own, which is closed when it is left.
TEST_F(IoTest, RedirectedFilesAreClosed) {
    int before = OpenDescriptors();
    OpenOutput(Path("out").c_str(), 0);
    EXPECT_EQ(Writing_tty(), 0);
    fputs("one\n", w_unit);
    OpenOutput("terminal", 0);
    EXPECT_EQ(w_unit, stdout);
    OpenOutput("previous", 0);
    OpenOutput("previous", 0);
    EXPECT_EQ(w_unit0, 0);
    EXPECT_EQ(OpenDescriptors(), before);
    FILE *f = fopen(Path("out").c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadRest(f), "one\n");
    fclose(f);
}

// The end of standard input, in a child process since it may end the program.
class EndOfInputDeathTest : public IoTest {
  protected:
    void SetUp() override {
        int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0) GTEST_SKIP() << "no pseudo-terminals here";
        close(master);
    }
};

// Makes the process a new session whose controlling terminal is a fresh
// pseudo-terminal, so that /dev/tty can be opened.
bool GiveControllingTerminal() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    setsid();
    return open(ptsname(master), O_RDWR) >= 0;
}

// Batch mode and the fifth end end the program; without a terminal too; else the terminal
// becomes standard input (status 3 shows that the program went on).
TEST_F(EndOfInputDeathTest, EndsOrTurnsToTheTerminal) {
    const struct {
        bool terminal;
        int batch, closed, status;
    } cases[] = {{true, 1, 0, 0}, {true, 0, 4, 0}, {false, 0, 0, 0}, {true, 0, 0, 3}};
    for (auto c : cases) {
        auto end = [&] {
            if (c.terminal ? !GiveControllingTerminal() : setsid() < 0) _exit(5);
            optquiet = 1;
            optbatch = c.batch;
            timesclosedstdin = c.closed;
            Rclose();
            bool ok = r_unit0 == 0 && Type_input == 0 && timesclosedstdin == 1 && R_unit != stdin &&
                      R_unit != nullptr && nextch == NOREADAHEAD;
            _exit(ok ? 3 : 4);
        };
        EXPECT_EXIT(end(), ::testing::ExitedWithCode(c.status), "") << c.batch << c.closed;
    }
}

} // namespace
