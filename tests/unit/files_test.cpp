// Files, lock files and shell commands: home directories, sizes of compressed files, whole
// files, status, locks, and command output in pieces with a time limit.
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

// [status, output] of a command.
struct Outcome {
    WORD status;
    std::string output;
};

Outcome Command(const char *command, int seconds = 0) {
    ALGEB r = TimedCallSystem(command, seconds);
    EXPECT_TRUE(IDLENGTH(r, LIST, 2));
    ALGEB e = A(r[1]);
    EXPECT_TRUE(IDLENGTH(e, EXPSEQ, 3));
    EXPECT_TRUE(IMMINT(A(e[1])));
    return {IMMVAL(A(e[1])), Text(A(e[2]))};
}

TEST_F(FilesTest, HomeDirectoriesExpand) {
    std::string home = getpwuid(getuid())->pw_dir;
    EXPECT_EQ(Expand("~/x"), home + "/x");
    EXPECT_EQ(Expand("~"), home);
    EXPECT_EQ(Expand("a/~/b"), "a/~/b");
    std::string roothome = getpwnam("root")->pw_dir;
    EXPECT_EQ(Expand("~root/data/f"), roothome + "/data/f");
    EXPECT_EQ(Expand("~root"), roothome);
    EXPECT_EQ(ErrorOf([] { Expand("~nosuchuserxyz/f"); }), "Unknown user: nosuchuserxyz");
    // User names are cut at 23 characters.
    EXPECT_EQ(ErrorOf([] { Expand("~abcdefghijklmnopqrstuvwxyz/f"); }),
              "Unknown user: abcdefghijklmnopqrstuvw");
}

TEST_F(FilesTest, ExpandedNamesMustFitTheBuffer) {
    char buf[8];
    expandname("1234567", buf, sizeof buf);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(ErrorOf([&] { expandname("12345678", buf, sizeof buf); }), "File name too long");
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

TEST_F(FilesTest, WholeFilesAreReadAsText) {
    Write("text", "first line\nsecond line\n");
    EXPECT_EQ(Text(ReadRawFile(Path("text").c_str())), "first line\nsecond line\n");
    Write("empty", "");
    EXPECT_EQ(ReadRawFile(Path("empty").c_str()), OneChar[0]);
    EXPECT_EQ(ReadRawFile(Path("missing").c_str()), OneChar[0]);
    Write("one", "q");
    EXPECT_EQ(ReadRawFile(Path("one").c_str()), OneChar['q']);
    Shell("printf 'packed\\n' | gzip > " + Path("p.gz"));
    EXPECT_EQ(Text(ReadRawFile(Path("p.gz").c_str())), "packed\n");
    // Long enough to need a text outside the object's first words.
    std::string big(100000, 'b');
    big[0] = 'A';
    big[99999] = 'Z';
    Write("big", big);
    EXPECT_EQ(Text(ReadRawFile(Path("big").c_str())), big);
}

TEST_F(FilesTest, StatusFieldsInOrder) {
    Write("f", "0123456789");
    ASSERT_EQ(chmod(Path("f").c_str(), 0640), 0);
    Shell("touch -a -d @1200000000 " + Path("f") + " && touch -m -d @1000000000 " + Path("f"));
    struct stat st;
    ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
    ALGEB name = CreateString(Path("f").c_str());
    ALGEB s = FileStat(name);
    ASSERT_TRUE(IDLENGTH(s, FUNCTION, 16));
    EXPECT_EQ(A(s[1]), naminstall("FileStat"));
    EXPECT_EQ(Text(A(s[2])), Path("f"));
    const double want[13] = {(double)st.st_dev,     (double)st.st_ino,    0100640,    1,
                             (double)getuid(),      (double)getgid(),     0,          10,
                             (double)st.st_blksize, (double)st.st_blocks, 1200000000, 1000000000,
                             (double)st.st_ctime};
    for (int i = 0; i < 13; i++)
        EXPECT_EQ(DBL(A(s[i + 3])), want[i]) << "field " << i + 2;

    ALGEB none = FileStat(CreateString(Path("missing").c_str()));
    ASSERT_TRUE(IDLENGTH(none, FUNCTION, 2));
    EXPECT_EQ(A(none[1]), naminstall("FileStat"));
}

TEST_F(FilesTest, LockTakenOnlyOnce) {
    std::string lock = Path("lock");
    mode_t old = umask(0);
    EXPECT_EQ(LockFile(lock.c_str(), "first"), ININtrue);
    umask(old);
    EXPECT_EQ(LockFile(lock.c_str(), "second"), ININfalse);
    EXPECT_EQ(LockFile(lock.c_str(), nullptr), ININfalse);
    struct stat st;
    ASSERT_EQ(stat(lock.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);

    std::string line = Text(ReadRawFile(lock.c_str()));
    std::string head =
        "Lumbra lock: " + Text(hostname()) + ", pid=" + std::to_string(getpid()) + ", ";
    ASSERT_EQ(line.size(), head.size() + 24 + std::string(", first\n").size());
    EXPECT_EQ(line.substr(0, head.size()), head);
    EXPECT_EQ(line.substr(head.size() + 24), ", first\n");

    EXPECT_EQ(LockFile(Path("bare").c_str(), nullptr), ININtrue);
    EXPECT_EQ(Text(ReadRawFile(Path("bare").c_str())).size(), head.size() + 25);

    std::string longmsg(401, 'm');
    EXPECT_EQ(ErrorOf([&] { LockFile(Path("long").c_str(), longmsg.c_str()); }),
              "message too long for LockFile");
    EXPECT_NE(access(Path("long").c_str(), F_OK), 0);
    EXPECT_EQ(LockFile(Path("long").c_str(), longmsg.c_str() + 1), ININtrue);
}

TEST_F(FilesTest, HostAndDate) {
    std::string h = Text(hostname());
    EXPECT_FALSE(h.empty());
    EXPECT_EQ(h.find('.'), std::string::npos);
    std::string d = Text(date());
    ASSERT_EQ(d.size(), 24u);
    EXPECT_EQ(d[3], ' ');
    EXPECT_EQ(d[13], ':');
    EXPECT_NE(d.back(), '\n');
    EXPECT_GT(rtime(), 1.7e9);
}

TEST_F(FilesTest, OutputComesBackWholeAndInOrder) {
    Outcome r = Command("printf hello; exit 3");
    EXPECT_EQ(r.status, 3 << 8);
    EXPECT_EQ(r.output, "hello");
    EXPECT_EQ(Command("true").output, "");
    EXPECT_EQ(Command("printf x").output, "x");

    // Exactly one piece of 8000, then nothing more.
    r = Command("head -c 8000 /dev/zero | tr '\\0' a");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, std::string(8000, 'a'));

    // Pieces go back in the order the command wrote them.
    r = Command("head -c 8000 /dev/zero | tr '\\0' a; head -c 8000 /dev/zero | tr '\\0' b;"
                "head -c 8000 /dev/zero | tr '\\0' c; printf dd",
                60);
    EXPECT_EQ(r.output,
              std::string(8000, 'a') + std::string(8000, 'b') + std::string(8000, 'c') + "dd");
    // Output that arrives slowly, in small writes, still fills whole pieces.
    r = Command(
        "i=0; while [ $i -lt 9 ]; do head -c 1000 /dev/zero | tr '\\0' s; i=$((i+1)); done");
    EXPECT_EQ(r.output, std::string(9000, 's'));
}

TEST_F(FilesTest, CommandsThatOutliveTheirLimit) {
    Outcome r = Command("exec sleep 5 2>/dev/null", 1);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "(Timeout)");
    r = Command("printf early; exec sleep 5 2>/dev/null", 1);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "(Timeout)");
    // A generous limit lets a quick command finish.
    r = Command("printf quick", 60);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "quick");
}

TEST_F(FilesTest, CallSystemGivesTheWaitStatus) {
    EXPECT_EQ(CallSystem("exit 0"), MKIMM(0));
    EXPECT_EQ(CallSystem("exit 2"), MKIMM(2 << 8));
    CallSystem(("printf made > " + Path("made")).c_str());
    EXPECT_EQ(Text(ReadRawFile(Path("made").c_str())), "made");
}

} // namespace
