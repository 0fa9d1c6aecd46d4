// Times lumbra's text searches against their peers on the text of a database file, side by side:
// exact search against glibc's memmem, case-insensitive search against glibc's strcasestr, and
// approximate search against plain scans that find the same occurrence: each window compared in
// turn for substitutions, a dynamic-programming scan with indels.
// searchbench FILE [ROUNDS]: every answer is checked against the peer's; the table goes to
// standard output.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "SearchText.h"

namespace {

double cpu() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

std::string slurp(const char *name) {
    FILE *f = fopen(name, "rb");
    if (f == nullptr) {
        perror(name);
        exit(1);
    }
    std::string s;
    char buf[1 << 16];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        s.append(buf, n);
    fclose(f);
    return s;
}

char fold(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// Without indels each window is compared until its errors pass k. With indels, Sellers' scan: the
// edit distance of the pattern to the best stretch ending at each position, one column of m cells
// per character; the start from the same scan backwards with the pattern reversed. Letters compare
// in either case, as lumbra's search does.
WORD plainscan(const std::string &pat, const char *text, WORD n, int k, bool indels) {
    const int m = (int)pat.size();
    if (!indels) {
        for (WORD s = 0; s + m <= n; s++) {
            int d = 0;
            for (int i = 0; i < m && d <= k; i++)
                d += fold(pat[(size_t)i]) != fold(text[s + i]);
            if (d <= k) return s;
        }
        return -1;
    }
    std::vector<int> col((size_t)m + 1);
    auto scan = [&](const std::string &p, WORD from, WORD count, int dir) -> WORD {
        for (int i = 0; i <= m; i++)
            col[(size_t)i] = i;
        for (WORD r = 0; r < count; r++) {
            const char c = fold(text[from + dir * r]);
            int diag = 0;
            for (int i = 1; i <= m; i++) {
                int up = col[(size_t)i];
                col[(size_t)i] = std::min(
                    {up + 1, col[(size_t)i - 1] + 1, diag + (fold(p[(size_t)i - 1]) != c)});
                diag = up;
            }
            if (col[(size_t)m] <= k) return r;
        }
        return -1;
    };
    WORD end = scan(pat, 0, n, 1);
    if (end < 0) return -1;
    std::string rev(pat.rbegin(), pat.rend());
    return end - scan(rev, end, end + 1, -1);
}

struct Row {
    std::string what;
    double ours = 0, peer = 0;
    int queries = 0;
};

void print(const Row &r, const char *peer) {
    printf("| %s | %d | %.4f | %.4f | %s %.2f |\n", r.what.c_str(), r.queries, r.ours, r.peer, peer,
           r.ours / r.peer);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: searchbench FILE [ROUNDS]\n");
        return 2;
    }
    const std::string text = slurp(argv[1]);
    const int rounds = argc > 2 ? atoi(argv[2]) : 1;
    const WORD n = (WORD)text.size();
    // Sequence positions, to draw patterns from.
    std::vector<WORD> seqpos;
    bool inside = false;
    for (WORD i = 0; i < n; i++) {
        if (text[(size_t)i] == '<') {
            inside = text.compare((size_t)i, 5, "<SEQ>") == 0;
            if (inside) i += 4;
        } else if (inside) {
            seqpos.push_back(i);
        }
    }
    std::mt19937_64 rng(17);
    // Patterns from the last tenth of the text, so that each search reads most of it, and as
    // many made up at random, which mostly occur nowhere.
    auto drawn = [&](size_t len) {
        for (;;) {
            WORD at = seqpos[seqpos.size() * 9 / 10 + rng() % (seqpos.size() / 10)];
            std::string p = text.substr((size_t)at, len);
            if (p.find('<') == std::string::npos && p.size() == len) return p;
        }
    };
    const char *aa = "ARNDCQEGHILKMFPSTWYV";
    auto made = [&](size_t len) {
        std::string p;
        while (p.size() < len)
            p += aa[rng() % 20];
        return p;
    };
    const std::string lower = [&] {
        std::string s = text;
        for (char &c : s)
            if (c == 0) c = ' ';
        return s;
    }();
    int bad = 0;

    printf("| search | queries | lumbra s | peer s | ratio |\n|---|---:|---:|---:|---|\n");
    for (size_t len : {4, 8, 16, 32, 64}) {
        Row exact{"exact, " + std::to_string(len) + " residues"},
            fold{"either case, " + std::to_string(len) + " residues"};
        for (int r = 0; r < rounds; r++)
            for (int q = 0; q < 20; q++) {
                std::string p = q % 2 ? drawn(len) : made(len);
                double t0 = cpu();
                WORD a = CaseSearchString(p.data(), (WORD)p.size(), text.data(), n);
                double t1 = cpu();
                const void *b = memmem(text.data(), text.size(), p.data(), p.size());
                double t2 = cpu();
                exact.ours += t1 - t0;
                exact.peer += t2 - t1;
                exact.queries++;
                if (a != (b == nullptr ? -1 : (const char *)b - text.data())) bad++;
                for (char &c : p)
                    c = (char)tolower(c);
                t0 = cpu();
                a = SearchString(p.data(), (WORD)p.size(), lower.data(), n);
                t1 = cpu();
                const char *c = strcasestr(lower.c_str(), p.c_str());
                t2 = cpu();
                fold.ours += t1 - t0;
                fold.peer += t2 - t1;
                fold.queries++;
                if (a != (c == nullptr ? -1 : c - lower.data())) bad++;
            }
        print(exact, "memmem");
        print(fold, "strcasestr");
    }
    for (bool indels : {false, true})
        for (auto [len, k] : {std::pair{12, 1}, {20, 2}, {30, 3}, {60, 6}}) {
            Row row{std::string(indels ? "with indels, " : "substitutions, ") +
                    std::to_string(len) + " residues, k=" + std::to_string(k)};
            for (int r = 0; r < rounds; r++)
                for (int q = 0; q < 4; q++) {
                    // A changed copy of a stretch from late in the text: every search reads
                    // most of it, and the cache never holds the answer.
                    std::string p = drawn((size_t)len);
                    for (int e = 0; e < k; e++)
                        p[rng() % p.size()] = aa[rng() % 20];
                    double t0 = cpu();
                    WORD a =
                        ApproxSearchString(p.data(), (WORD)p.size(), text.data(), n, k, indels);
                    double t1 = cpu();
                    WORD b = plainscan(p, text.data(), n, k, indels);
                    double t2 = cpu();
                    row.ours += t1 - t0;
                    row.peer += t2 - t1;
                    row.queries++;
                    if (a != b) {
                        fprintf(stderr, "differ: %s k=%d: %ld %ld\n", p.c_str(), k, (long)a,
                                (long)b);
                        bad++;
                    }
                }
            print(row, indels ? "DP scan" : "window scan");
        }
    if (bad > 0) fprintf(stderr, "%d answers differ from the peer's\n", bad);
    return bad > 0;
}
