// File names: home directories and the room they take, and sizes of compressed files.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSize.h"
#include "miscfuncs.h"
#include "testkit.h"

namespace {

using namespace testkit;

class FilesTest : public TempDir, public KernelTest {
  protected:
    void Shell(const std::string &cmd) { ASSERT_EQ(system(cmd.c_str()), 0) << cmd; }
};

std::string Expand(const char *name) {
    char buf[256];
    expandname(name, buf, sizeof buf);
    return buf;
}

// An unknown user and a plain name too long are refused in the files transcript.
TEST_F(FilesTest, HomeDirectoriesExpand) {
    std::string home = getpwuid(getuid())->pw_dir, roothome = getpwnam("root")->pw_dir;
    EXPECT_EQ(Expand("~/x"), home + "/x");
    EXPECT_EQ(Expand("~"), home);
    EXPECT_EQ(Expand("a/~/b"), "a/~/b");
    EXPECT_EQ(Expand("~root/data/f"), roothome + "/data/f");
    EXPECT_EQ(Expand("~root"), roothome);
    // User names are cut at 23 characters.
    EXPECT_EQ(ErrorOf([] { Expand("~abcdefghijklmnopqrstuvwxyz/f"); }),
              "Unknown user: abcdefghijklmnopqrstuvw");
    // The expanded name must fit the buffer, its NUL included.
    char buf[8];
    expandname("1234567", buf, sizeof buf);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(ErrorOf([&] { expandname("~/abcdefgh", buf, sizeof buf); }), "File name too long");
}

TEST_F(FilesTest, SizesOfPlainAndCompressedFiles) {
    Write("plain", "twelve chars");
    EXPECT_EQ(FileSize(Path("plain").c_str()), 12u);
    EXPECT_EQ(FileSize(Path("missing").c_str()), 0u);
    EXPECT_EQ(FileSize(Path("missing.gz").c_str()), 0u);
    // Compression makes this text much shorter than its 5000 characters.
    Shell("head -c 5000 /dev/zero | gzip > " + Path("z.gz"));
    EXPECT_EQ(FileSize(Path("z.gz").c_str()), 5000u);
    Shell("head -c 3000 /dev/zero | gzip > " + Path("z.Z"));
    EXPECT_EQ(FileSize(Path("z.Z").c_str()), 3000u);
    // Names are handed to the shell as they are spelled.
    Shell("printf 'abc' | gzip > \"" + Path("it's here.gz") + "\"");
    EXPECT_EQ(FileSize(Path("it's here.gz").c_str()), 3u);
    Write("bad.gz", "not compressed");
    EXPECT_EQ(ErrorOf([&] { FileSize(Path("bad.gz").c_str()); }),
              "cannot determine length of file");
}

} // namespace
