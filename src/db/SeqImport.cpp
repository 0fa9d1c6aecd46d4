// Import of FASTA and UniProt/EMBL flat files: each is converted once into the tagged database
// format, one entry per line, in a file next to it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "LoadFile.h"
#include "Lumbra.h"

namespace {

// The one-letter codes a converted sequence may hold: the amino acids with X, and U.
struct SeqCodes {
    bool ok[256] = {};
    constexpr SeqCodes() {
        for (const char *p = "ARNDCQEGHILKMFPSTWYVXU"; *p; p++)
            ok[(unsigned char)*p] = true;
    }
};
constexpr SeqCodes codes;

bool endswith(const std::string &s, const char *suffix) {
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

std::string trimmed(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// Text inside a tag: the angle brackets that would end or open a tag are written as entities.
void puttext(std::string &out, const std::string &s) {
    for (char c : s) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '\t' || c == '\r')
            out += ' ';
        else
            out += c;
    }
}

struct Entry {
    std::string id, ac, de, os, seq;
    void clear() {
        id.clear();
        ac.clear();
        de.clear();
        os.clear();
        seq.clear();
    }
};

struct Converter {
    const std::string &source;
    FILE *in = nullptr, *out = nullptr;
    bool pipe = false;
    std::string tmp;
    bool done = false;
    unsigned long lineno = 0;
    std::string buf;
    char *line = nullptr;
    size_t linecap = 0;

    explicit Converter(const std::string &src) : source(src) {}
    ~Converter() {
        if (in != nullptr) pipe ? pclose(in) : fclose(in);
        if (out != nullptr) fclose(out);
        if (!done && !tmp.empty()) unlink(tmp.c_str());
        free(line);
    }

    [[noreturn]] void fail(const char *what) {
        char msg[700];
        snprintf(msg, sizeof msg, "%s, line %lu of %.500s", what, lineno, source.c_str());
        userror(msg);
    }

    // The next line without its end, false at the end of the file.
    bool next(std::string &l) {
        ssize_t n = getline(&line, &linecap, in);
        if (n < 0) return false;
        lineno++;
        if ((lineno & 0xFFFF) == 0 && InterruptNow) lumbra_jump(Main);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            n--;
        l.assign(line, (size_t)n);
        return true;
    }

    // Residues of a sequence line, in upper case; blanks and, in flat files, position numbers
    // are skipped.
    void residues(const std::string &l, std::string &seq, bool numbers) {
        for (char ch : l) {
            unsigned char c = (unsigned char)ch;
            if (c == ' ' || c == '\t' || (numbers && c >= '0' && c <= '9')) continue;
            if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 'a' + 'A');
            if (!codes.ok[c]) {
                char what[80];
                if (c >= ' ' && c < 127)
                    snprintf(what, sizeof what, "'%c' is not a sequence code", c);
                else
                    snprintf(what, sizeof what, "the character \\%03o is not a sequence code", c);
                fail(what);
            }
            seq += (char)c;
        }
    }

    void write(const Entry &e) {
        buf.clear();
        buf += "<E><ID>";
        puttext(buf, e.id);
        buf += "</ID>";
        if (!e.ac.empty()) {
            buf += "<AC>";
            puttext(buf, e.ac);
            buf += "</AC>";
        }
        if (!e.de.empty()) {
            buf += "<DE>";
            puttext(buf, e.de);
            buf += "</DE>";
        }
        if (!e.os.empty()) {
            buf += "<OS>";
            puttext(buf, e.os);
            buf += "</OS>";
        }
        buf += "<SEQ>";
        buf += e.seq;
        buf += "</SEQ></E>\n";
        if (fwrite(buf.data(), 1, buf.size(), out) != buf.size())
            userror("cannot write the converted database");
    }

    // A FASTA header: ">name description". UniProt's "db|accession|name description OS=...
    // OX=..." gives the accession and the species as well.
    static void header(const std::string &h, Entry &e) {
        std::string s = trimmed(h.substr(1));
        size_t sp = s.find_first_of(" \t");
        std::string word = s.substr(0, sp),
                    rest = sp == std::string::npos ? "" : trimmed(s.substr(sp));
        size_t b1 = word.find('|'), b2 = b1 == std::string::npos ? b1 : word.find('|', b1 + 1);
        if (b2 != std::string::npos &&
            (word.compare(0, b1, "sp") == 0 || word.compare(0, b1, "tr") == 0)) {
            e.ac = word.substr(b1 + 1, b2 - b1 - 1);
            e.id = word.substr(b2 + 1);
            size_t os = rest.find(" OS=");
            if (os != std::string::npos) {
                std::string tail = rest.substr(os + 4);
                size_t end = std::string::npos;
                for (const char *k : {" OX=", " GN=", " PE=", " SV="})
                    end = std::min(end, tail.find(k));
                e.os = trimmed(tail.substr(0, end));
                rest = trimmed(rest.substr(0, os));
            }
        } else {
            e.id = word;
        }
        e.de = rest;
    }

    void fasta() {
        Entry e;
        bool open = false;
        std::string l;
        while (next(l)) {
            if (!l.empty() && l[0] == '>') {
                if (open) write(e);
                e.clear();
                header(l, e);
                if (e.id.empty()) fail("a header line without a name");
                open = true;
            } else if (l.empty() || l[0] == ';') {
                continue;
            } else {
                if (!open) fail("sequence before the first header line");
                residues(l, e.seq, false);
            }
        }
        if (open) write(e);
    }

    static void append(std::string &field, const std::string &text) {
        if (text.empty()) return;
        if (!field.empty()) field += ' ';
        field += text;
    }

    // Flat files: two-letter line codes, the sequence after SQ, each entry ended by //.
    void flat() {
        Entry e;
        bool open = false, inseq = false;
        std::string l;
        while (next(l)) {
            if (l.compare(0, 2, "//") == 0) {
                if (!open) fail("// without an entry");
                write(e);
                e.clear();
                open = inseq = false;
                continue;
            }
            if (inseq && (l.empty() || l[0] == ' ')) {
                residues(l, e.seq, true);
                continue;
            }
            if (l.size() < 2 || trimmed(l).empty()) continue;
            std::string code = l.substr(0, 2), text = l.size() > 5 ? trimmed(l.substr(5)) : "";
            if (code == "ID") {
                if (open) fail("ID line inside an entry (missing //)");
                open = true;
                e.id = text.substr(0, text.find_first_of(" \t;"));
                continue;
            }
            if (!open) fail("text outside an entry (no ID line before it)");
            if (code == "AC")
                append(e.ac, text);
            else if (code == "DE")
                append(e.de, text);
            else if (code == "OS")
                append(e.os, text);
            else if (code == "SQ")
                inseq = true;
        }
        if (open) fail("the last entry does not end with //");
    }
};

} // namespace

ALGEB SeqFileToDb(const char *filename, SeqFormat f) {
    std::string src = filename, base = src;
    bool compressed = endswith(src, ".gz") || endswith(src, ".Z");
    if (endswith(base, ".gz"))
        base.resize(base.size() - 3);
    else if (endswith(base, ".Z"))
        base.resize(base.size() - 2);
    std::string dst = base + ".db";
    struct stat ss, ds;
    if (stat(src.c_str(), &ss) != 0) userror("file does not exist");
    if (stat(dst.c_str(), &ds) == 0 &&
        (ds.st_mtim.tv_sec != ss.st_mtim.tv_sec ? ds.st_mtim.tv_sec > ss.st_mtim.tv_sec
                                                : ds.st_mtim.tv_nsec > ss.st_mtim.tv_nsec))
        return CreateString(dst.c_str());

    Converter c(src);
    if (compressed) {
        std::string q = "'";
        for (char ch : src)
            q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
        c.in = popen(("zcat " + q + "' 2>/dev/null").c_str(), "r");
        c.pipe = true;
    } else {
        c.in = fopen(src.c_str(), "r");
    }
    if (c.in == nullptr) userror("cannot read the file to convert");
    c.tmp = dst + ".new" + std::to_string(getpid());
    c.out = fopen(c.tmp.c_str(), "w");
    if (c.out == nullptr) userror("cannot write the converted database next to the file");
    static char outbuf[1 << 20];
    setvbuf(c.out, outbuf, _IOFBF, sizeof outbuf);
    if (f == SeqFormat::Fasta)
        c.fasta();
    else
        c.flat();
    int rc = fclose(c.out);
    c.out = nullptr;
    if (rc != 0) userror("cannot write the converted database");
    if (c.pipe) {
        int status = pclose(c.in);
        c.in = nullptr;
        if (status != 0) userror("cannot zcat compressed database file");
    }
    if (c.lineno == 0) userror("the file to convert is empty");
    // The indexes of an earlier conversion describe another text.
    unlink((dst + ".map").c_str());
    unlink((dst + ".tree").c_str());
    if (rename(c.tmp.c_str(), dst.c_str()) != 0) userror("cannot write the converted database");
    c.done = true;
    return CreateString(dst.c_str());
}
