// What the unit tests share: a started kernel whose errors come back to the test, messages of
// user errors, small objects built by hand, parsing and printing through strings, collections
// on demand, a directory of files of their own and the output unit captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "Lumbra.h"
#include "parse.h"
#include "yylex.h"

namespace testkit {

// Each test starts at top level, with errors unwinding to it instead of ending the program and
// no automatic collection (what only the test holds is no root); the settings and units it
// changes are put back afterwards, so that tests do not depend on their order.
class KernelTest : public ::testing::Test {
  protected:
    KernelTest() {
        InitObjects();
        IniEnv.jump = 1;
        Environment = &IniEnv;
        IniEnv.evlstlev = 1;
        savedquiet = optquiet;
        savedserver = optserver;
        savedecho = echo;
        savedprtflag = prtflag;
        savednextgc = nextgc;
        nextgc = 1e300;
    }
    ~KernelTest() override {
        CloseAllInput();
        while (w_unit0 > 0)
            OpenOutput("previous", 0);
        optquiet = savedquiet;
        optserver = savedserver;
        echo = savedecho;
        prtflag = savedprtflag;
        nextgc = savednextgc;
        Environment = &IniEnv;
        IniEnv.evlstlev = 1;
    }

  private:
    int savedquiet, savedserver, savedecho, savedprtflag;
    double savednextgc;
};

// The same, with collections silent.
class QuietKernelTest : public KernelTest {
  protected:
    QuietKernelTest() { optquiet = 1; }
};

// A top-level statement finishes; each one opens a new generation.
inline void EndStatement() {
    ENVevlstlev = 1;
    nextgcgen = -1;
    GcAfterStatement(2);
}

// Two finished top-level statements and a collection: what no name holds is reclaimed.
inline void Collect() {
    EndStatement();
    EndStatement();
    gc();
}

// Every free block, the tail included, with its length.
inline std::map<ALGEB, WORD> FreeBlocks() {
    std::map<ALGEB, WORD> free;
    for (int l = 1; l < NINDIVLISTS; l++)
        for (ALGEB q = freelist[l]; q != 0; q = A(q[0]))
            free[q] = l;
    for (int c = NINDIVLISTS; c < NFREELISTS; c++)
        for (ALGEB node = freelist[c]; node != 0; node = A(node[2]))
            for (ALGEB q = node; q != 0; q = A(q[0]))
                free[q] = node[1];
    if (taillen > 0) free[tail] = taillen;
    return free;
}

// The free block that contains p and its length, or 0.
inline ALGEB FreeBlockAt(ALGEB p, WORD *len) {
    std::map<ALGEB, WORD> free = FreeBlocks();
    auto f = free.upper_bound(p);
    if (f == free.begin() || p >= std::prev(f)->first + std::prev(f)->second) return 0;
    --f;
    return *len = f->second, f->first;
}

inline bool IsFree(ALGEB p) {
    WORD len;
    return FreeBlockAt(p, &len) != 0;
}

// Every block of every region, object by object; free blocks carry their length in the free
// lists. The walk must end exactly at the end of each region.
inline std::vector<ALGEB> HeapWalk() {
    std::map<ALGEB, WORD> free = FreeBlocks();
    std::vector<ALGEB> blocks;
    for (ALGEB r = allstorage; r != 0; r = A(r[0])) {
        ALGEB p = r + 2, end = r + r[1];
        while (p < end) {
            auto f = free.find(p);
            WORD L = f != free.end() ? f->second : LENGTH2(p);
            EXPECT_GE(L, 1);
            if (L < 1) return blocks;
            blocks.push_back(p);
            p += L;
        }
        EXPECT_EQ(p, end);
    }
    return blocks;
}

// The rest of f, from where it stands.
inline std::string ReadRest(FILE *f) {
    std::string s;
    for (int c; (c = getc(f)) != EOF;)
        s += (char)c;
    return s;
}

// The message of the last user error; one raised about an object ends with it.
inline std::string LastError() {
    ALGEB e = A(ININlasterror[1]);
    if (ID(e) == EXPSEQ) e = A(e[LENGTH2(e) - 1]);
    return NAMETEXT(e);
}

// Whether f raised a user error; one that unwinds otherwise is a failure.
template <class F>
bool RaisesError(F f) {
    try {
        f();
    } catch (const Unwind &u) {
        EXPECT_EQ(u.code, Error);
        return true;
    }
    return false;
}

// The message of the user error that f must raise.
template <class F>
std::string ErrorOf(F f) {
    if (RaisesError(f)) return LastError();
    ADD_FAILURE() << "no error raised";
    return "";
}

inline ALGEB I(WORD v) { return MKIMM(v); }

inline ALGEB N(const char *s) { return naminstall(s); }

// A boxed number, even for an integral value.
inline ALGEB Num(double d) {
    ALGEB r = Newl1(2, NUMBER);
    ((Number *)r)->N = d;
    return r;
}

// A text of its own, never a shared one-character text.
inline ALGEB Str(const std::string &s) {
    ALGEB t = NewText(s.size());
    memcpy(STR(t)->t, s.data(), s.size());
    return t;
}

// A view of n characters starting at p.
inline ALGEB View(const char *p, WORD n) {
    ALGEB t = Newl1(3, TEXT);
    t[1] = n;
    t[2] = W(p);
    return t;
}

inline std::string Text(ALGEB t) {
    EXPECT_EQ(ID(t), TEXT);
    return std::string(STR(t)->t, (size_t)STR(t)->length);
}

inline ALGEB Seq(std::initializer_list<ALGEB> xs) {
    ALGEB s = Newl1((WORD)xs.size() + 1, EXPSEQ);
    WORD i = 1;
    for (ALGEB x : xs)
        s[i++] = W(x);
    return s;
}

inline ALGEB List(std::initializer_list<ALGEB> xs) { return New2(LIST, Seq(xs)); }

inline ALGEB Packed(const std::vector<double> &xs) {
    ALGEB r = Newl1((WORD)xs.size() + 1, LISTNUM);
    for (size_t i = 0; i < xs.size(); i++)
        LISTNUMDATA(r)[i] = xs[i];
    return r;
}

inline ALGEB Call(ALGEB f, std::initializer_list<ALGEB> xs) {
    ALGEB r = Newl2((WORD)xs.size() + 2, FUNCTION, f);
    WORD i = 2;
    for (ALGEB x : xs)
        r[i++] = W(x);
    return r;
}

inline ALGEB Call(const char *f, std::initializer_list<ALGEB> xs) {
    return Call(naminstall(f), xs);
}

inline ALGEB Parse(const std::string &s) { return LumbraParse(s.data(), (int)s.size()); }

// The name of a type code, as the object model spells it.
inline const char *TypeName(WORD code) {
#define LUMBRA_TYPE_NAME(name, c)                                                                  \
    if (code == c) return #name;
    LUMBRA_TYPES(LUMBRA_TYPE_NAME)
#undef LUMBRA_TYPE_NAME
    return "?";
}

// The tree as nested type names: numbers in full precision, texts in quotes, parameters as
// P<k>, locals as L<k>, and locals of an enclosing procedure as L<k>@<its first local>.
inline std::string DumpTree(ALGEB x) {
    if (x == 0) return "0";
    if (IMMINT(x)) return std::to_string(IMMVAL(x));
    char buf[64];
    switch (CASE_ID2(x)) {
    case NUMBER_CASE: snprintf(buf, sizeof buf, "%.17g", NUMVAL(x)); return buf;
    case NAME_CASE: return NAMETEXT(x);
    case TEXT_CASE: return "'" + std::string(STR(x)->t, (size_t)STR(x)->length) + "'";
    case PARAM_CASE: return "P" + std::to_string(x[1]);
    case LOCAL_CASE:
        return "L" + std::to_string(x[1]) +
               (LENGTH2(x) == 3 ? "@" + DumpTree(A(A(A(x[2])[2])[1])) : std::string());
    default: break;
    }
    std::string s = std::string(TypeName(CASE_ID2(x))) + "(";
    for (WORD i = 1; i < LENGTH2(x); i++)
        s += (i > 1 ? "," : "") + DumpTree(A(x[i]));
    return s + ")";
}

// The trees of the non-empty statements up to the end of the current unit, which is then closed.
inline std::vector<std::string> ReadStatements() {
    std::vector<std::string> got;
    int depth = r_unit0;
    for (int i = 0; i < 100; i++) {
        ALGEB s = ReadStatement();
        if (IDLENGTH(s, CONTROL, 2)) {
            EXPECT_EQ(A(s[1]), MKIMM(1));
            closeinput();
            EXPECT_EQ(r_unit0, depth - 1);
            return got;
        }
        if (!ISNULL(s)) got.push_back(DumpTree(s));
    }
    ADD_FAILURE() << "no end of the unit";
    return got;
}

inline std::string Printed(ALGEB x) {
    static std::vector<char> buf(PRINTBUFSIZE);
    int n = PrintIntoBuffer(x, buf.data());
    return std::string(buf.data(), (size_t)n);
}

// A fresh directory for the files of one test, removed with them afterwards.
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/lumbra-test-XXXXXX";
        if (mkdtemp(tmpl) != nullptr)
            dir = tmpl;
        else
            ADD_FAILURE() << "no temporary directory";
    }
    ~TempDir() {
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
        EXPECT_FALSE(ec) << "cannot remove " << dir << ": " << ec.message();
    }

    std::string Path(const std::string &name) const { return dir + "/" + name; }

    void Write(const std::string &name, const std::string &text) const {
        FILE *f = fopen(Path(name).c_str(), "w");
        ASSERT_NE(f, nullptr) << Path(name);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }

    // The text as a file, opened as the current input unit.
    void Open(const std::string &text) const {
        Write("in", text);
        ASSERT_EQ(Ropen(Path("in").c_str(), 0), 1);
    }

    std::string dir;
};

// Everything written to the output unit while this lives; the unit is put back afterwards.
class UnitCapture {
  public:
    UnitCapture() : saved(w_unit), file(tmpfile()) {
        EXPECT_NE(file, nullptr);
        w_unit = file;
    }
    ~UnitCapture() {
        w_unit = saved;
        if (file != nullptr) fclose(file);
    }
    UnitCapture(const UnitCapture &) = delete;
    UnitCapture &operator=(const UnitCapture &) = delete;

    // What has been written so far.
    std::string Written() {
        fflush(file);
        rewind(file);
        return ReadRest(file);
    }

  private:
    FILE *saved, *file;
};

} // namespace testkit
