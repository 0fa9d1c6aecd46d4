// Sizes, contents and status of whole files; compressed files count by what they unpack to.
#include "FileSize.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Lumbra.h"
#include "eval.h"
#include "miscfuncs.h"

// What gzip and zcat understand, by the ending of the name.
static bool gzipped(const char *path, size_t n) {
    return n >= 4 && strcmp(path + n - 3, ".gz") == 0;
}

static bool compressed(const char *path, size_t n) {
    return n >= 3 && strcmp(path + n - 2, ".Z") == 0;
}

// The name as one word of a shell command, whatever characters it holds.
static std::string shellword(const char *s) {
    std::string w = "'";
    for (; *s != 0; s++)
        if (*s == '\'')
            w += "'\\''";
        else
            w += *s;
    return w + "'";
}

// The first count numbers that a command prints, or an error when it prints fewer.
static void readnumbers(FILE *p, unsigned long long *x, int count) {
    int got = count == 2 ? fscanf(p, "%llu %llu", &x[0], &x[1]) : fscanf(p, "%llu", &x[0]);
    pclose(p);
    if (got != count) userror("cannot determine length of file");
}

uint64_t FileSize(const char *path) {
    struct stat st;
    // A file that cannot be examined has no characters, compressed or not.
    if (stat(path, &st) != 0) return 0;
    size_t n = strlen(path);
    unsigned long long x[2];
    if (gzipped(path, n)) {
        std::string cmd = "gzip -l -q " + shellword(path);
        FILE *p = popen(cmd.c_str(), "r");
        if (p == 0) userror("cannot gzip to find length of file");
        readnumbers(p, x, 2);
        return x[1];
    }
    if (compressed(path, n)) {
        std::string cmd = "zcat " + shellword(path) + " | wc -c";
        FILE *p = popen(cmd.c_str(), "r");
        if (p == 0) userror("cannot zcat to find length of file");
        readnumbers(p, x, 1);
        return x[0];
    }
    return (uint64_t)st.st_size;
}

void ReadFile(const char *path, char *buffer, size_t length) {
    size_t n = strlen(path), got = 0;
    // FileSize counts a compressed file by its unpacked characters, so those are read.
    if (gzipped(path, n) || compressed(path, n)) {
        std::string cmd = "gunzip -c " + shellword(path);
        FILE *p = popen(cmd.c_str(), "r");
        if (p == 0) terminate("Unable to open input file");
        got = fread(buffer, 1, length, p);
        pclose(p);
    } else {
        int fd = open(path, O_RDONLY);
        if (fd < 0) terminate("Unable to open input file");
        // One read may deliver less than asked for very long files.
        while (got < length) {
            ssize_t k = read(fd, buffer + got, length - got);
            if (k <= 0) break;
            got += (size_t)k;
        }
        close(fd);
    }
    if (got != length) terminate("Could not read the right number of characters");
}

ALGEB ReadRawFile(const char *name) {
    char path[256];
    expandname(name, path, sizeof path);
    // What cannot be read at all is refused before the reading, whose failures are fatal.
    struct stat st;
    if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) userror("cannot read a directory");
    if (stat(path, &st) == 0 && access(path, R_OK) != 0) userror("Unable to open input file");
    uint64_t n = FileSize(path);
    if (n == 0) return OneChar[0];
    ALGEB r = NewText((UWORD)n);
    ReadFile(path, STR(r)->t, (size_t)n);
    return n == 1 ? OneChar[(unsigned char)STR(r)->t[0]] : r;
}

ALGEB FileStat(ALGEB name) {
    ALGEB fn = naminstall("FileStat");
    std::string path = ID(name) == TEXT ? std::string(STR(name)->t, (size_t)STR(name)->length)
                                        : std::string(NAMETEXT(name));
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return New2(FUNCTION, fn);
    // Sizes and times outgrow the immediate integers.
    const double fields[13] = {(double)st.st_dev,    (double)st.st_ino,   (double)st.st_mode,
                               (double)st.st_nlink,  (double)st.st_uid,   (double)st.st_gid,
                               (double)st.st_rdev,   (double)st.st_size,  (double)st.st_blksize,
                               (double)st.st_blocks, (double)st.st_atime, (double)st.st_mtime,
                               (double)st.st_ctime};
    ALGEB v[13];
    for (int i = 0; i < 13; i++)
        v[i] = NewNumber(fields[i]);
    ALGEB call = Newl1(16, FUNCTION);
    call[1] = W(fn);
    call[2] = W(name);
    for (int i = 0; i < 13; i++)
        call[i + 3] = W(v[i]);
    return eval(call);
}
