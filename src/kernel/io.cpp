// The stack of input units statements are read from, and the stack of output streams.
#include "io.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "main.h"
#include "mdebug.h"
#include "miscfuncs.h"
#include "storman.h"

read_unit read_units[MAX_FILES];
int r_unit0 = 0;
int nextch = NOREADAHEAD;
char OfsName[257];
FILE *OfsFile;
int timesclosedstdin;
FILE *w_unit = stdout;
FILE *w_unit1[MAXOUTUNITS];
int w_unit0;

static constexpr size_t MAXIONAME = 3000;
static constexpr int MAXTTYREOPEN = 5;

static void push_unit(int type, FILE *f) {
    r_unit0++;
    read_unit &u = read_units[r_unit0];
    u.ibuff = u.ibuff_area;
    u.ibuffl = 0;
    u.icharno = 0;
    u.yyline = 0;
    u.type = type;
    u.nextch2 = NOREADAHEAD;
    u.r_unit = f;
    nextch = NOREADAHEAD;
}

void InitInput() {
    r_unit0 = -1;
    push_unit(0, stdin);
    w_unit = stdout;
    w_unit0 = 0;
}

static bool ends_with(const std::string &s, const char *suffix) {
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Reads a compressed file through gunzip. A missing file fails here, as a
// plain one does, rather than as an empty pipe; the name is quoted because
// it names a file, not a command line.
static FILE *gunzip(const std::string &name) {
    if (access(name.c_str(), R_OK) != 0) return nullptr;
    std::string cmd = "gunzip -c '";
    for (char c : name)
        cmd += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return popen((cmd + "'").c_str(), "r");
}

int Ropen(const char *name, int type) {
    if (r_unit0 > MAX_FILES - 2) userror("too many files simultaneously open for reading");
    if (type == OFSREAD) {
        push_unit(OFSREAD, OfsFile);
        return 1;
    }
    if (strlen(name) > MAXIONAME) userror2(CreateString(name), "i/o command too long");
    std::string s = name;
    FILE *f;
    if (type == 1) {
        f = popen(name, "r");
    } else if ((s.size() >= 4 && ends_with(s, ".gz")) || (s.size() >= 3 && ends_with(s, ".Z"))) {
        // ".gz" and ".Z" alone are ordinary file names.
        f = gunzip(s);
        type = 1;
    } else if ((f = fopen(name, "r")) == nullptr) {
        f = gunzip(s + ".Z");
        if (f == nullptr) f = gunzip(s + ".gz");
        type = 1;
    }
    if (f == nullptr) return 0;
    push_unit(type, f);
    return 1;
}

// Standard input is exhausted: continue on the terminal, unless this run is
// over. Without a terminal there is nothing left to read, so it ends too.
static void reopen_terminal() {
    FILE *tty = fopen("/dev/tty", "r");
    if (tty == nullptr) normalexit();
    push_unit(0, tty);
}

void Rclose() {
    read_unit &u = read_units[r_unit0];
    if (u.type == 1)
        pclose(u.r_unit);
    else if (u.type == 0)
        fclose(u.r_unit);
    u.r_unit = nullptr;
    r_unit0--;
    nextch = NOREADAHEAD;
    if (r_unit0 >= 0) return;
    if (optbatch) normalexit();
    if (++timesclosedstdin >= MAXTTYREOPEN) normalexit();
    reopen_terminal();
}

int RopenOfs(const char *name, long offset) {
    if (OfsFile == nullptr || strcmp(name, OfsName) != 0) {
        if (OfsFile != nullptr) fclose(OfsFile);
        OfsName[0] = 0;
        OfsFile = fopen(name, "r");
        if (OfsFile == nullptr) return 0;
        // A longer name is not remembered, so it is never mistaken for another.
        if (strlen(name) < sizeof OfsName) strcpy(OfsName, name);
    }
    fseek(OfsFile, offset, SEEK_SET);
    return Ropen(name, OFSREAD);
}

void RcloseOfs() {
    read_units[r_unit0].r_unit = nullptr;
    r_unit0--;
    nextch = NOREADAHEAD;
    if (r_unit0 < 0) reopen_terminal();
}

void CloseAllInput() {
    while (r_unit0 > 0)
        Rclose();
}

int Reading_tty() {
    if (r_unit0 < 0) return 1;
    return R_unit != nullptr && isatty(fileno(R_unit));
}

int Writing_tty() { return isatty(fileno(w_unit)); }

void FlushOutput() { fflush(stdout); }

void WriteChar(int c) {
    putc(c, stdout);
    if (c == '\n') fflush(stdout);
}

void WriteString(const char *s) { fputs(s, stdout); }

void OpenOutput(const char *name, int append) {
    if (optserver) userror("cannot do OpenAppending/OpenWriting as a server");
    char path[256];
    expandname(name, path, sizeof path);
    fflush(w_unit);
    if (strcmp(path, "previous") == 0) {
        if (w_unit0 == 0) userror("there is no previous output file open");
        if (w_unit != stdout) fclose(w_unit);
        w_unit = w_unit1[--w_unit0];
        return;
    }
    FILE *f = stdout;
    if (strcmp(path, "terminal") != 0 && (f = fopen(path, append ? "a" : "w")) == nullptr) {
        char msg[400];
        snprintf(msg, sizeof msg, "Lumbra cannot open file %s to write to: %d", path, errno);
        userror(msg);
    }
    if (w_unit0 > MAXOUTUNITS - 2) {
        if (f != stdout) fclose(f);
        userror("too many open output files, use OpenWriting(previous)");
    }
    w_unit1[w_unit0++] = w_unit;
    w_unit = f;
}
