// Text search, repeats and frequent strings against plain reference computations: naive exact
// search, edit distances, linear scans of the Pat index, pairwise common prefixes, counts of
// every k-gram.
#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <tuple>

#include "LoadFile.h"
#include "Repeats.h"
#include "SearchText.h"
#include "SetOption.h"
#include "testkit.h"

using namespace testkit;

namespace {

std::string Folded(std::string s) {
    for (char &c : s)
        c = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    return s;
}

std::string RandomText(std::mt19937 &rng, const std::string &abc, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += abc[rng() % abc.size()];
    return s;
}

// A copy of s with up to e random substitutions, insertions and deletions.
std::string Mutated(std::mt19937 &rng, std::string s, const std::string &abc, int e) {
    for (int i = 0; i < e && !s.empty(); i++) {
        size_t at = rng() % s.size();
        switch (rng() % 3) {
        case 0: s[at] = abc[rng() % abc.size()]; break;
        case 1: s.insert(s.begin() + at, abc[rng() % abc.size()]); break;
        default: s.erase(at, 1);
        }
    }
    return s;
}

TEST(ExactSearch, EveryKindOfVectorAgreesWithNaiveSearch) {
    const std::string abcs[] = {"ab", "ACGT", "ACDEFGHIKLMNPQRSTVWY", "aAbB\x80\xff<@[`{"};
    std::vector<int64_t> targets = SearchTargets();
    targets.push_back(0); // the search as the program calls it, empty patterns included
    for (int64_t target : targets) {
        std::mt19937 rng(11);
        if (target != 0) SearchForce(target);
        for (int round = 0; round < 3000; round++) {
            const std::string &abc = abcs[round % 4];
            std::string t = RandomText(rng, abc, rng() % (round % 2 ? 80 : 700));
            std::string p = RandomText(rng, abc, (target != 0) + rng() % 6);
            // Short texts end in the scalar loop, long ones pass through whole blocks.
            if (round % 3 == 0 && t.size() > 4) p = t.substr(rng() % (t.size() - 3), 1 + rng() % 3);
            auto pos = [](size_t x) { return x == std::string::npos ? (WORD)-1 : (WORD)x; };
            const WORD n = (WORD)t.size(), m = (WORD)p.size();
            WORD exact = target != 0 ? VectorSearch(p.data(), m, t.data(), n, false)
                                     : CaseSearchString(p.data(), m, t.data(), n);
            WORD folded = target != 0 ? VectorSearch(p.data(), m, t.data(), n, true)
                                      : SearchString(p.data(), m, t.data(), n);
            ASSERT_EQ(exact, pos(t.find(p))) << p << " in " << t << " target " << target;
            ASSERT_EQ(folded, pos(Folded(t).find(Folded(p))))
                << p << " in " << t << " target " << target;
        }
        SearchForce(0);
    }
}

// The occurrence the search is to give: of those that end first, the one that starts last.
WORD ApproxReference(std::string p, std::string t, int k, bool indels) {
    p = Folded(p);
    t = Folded(t);
    const size_t m = p.size();
    // Without indels an occurrence has the pattern's length, even a short pattern's.
    if (!indels && m > t.size()) return -1;
    if (m <= (size_t)k) return 0;
    if (!indels) {
        for (size_t s = 0; s + m <= t.size(); s++) {
            int d = 0;
            for (size_t i = 0; i < m; i++)
                d += p[i] != t[s + i];
            if (d <= k) return (WORD)s;
        }
        return -1;
    }
    // Columns of the edit distance table after character c, its first cell top: forwards
    // with free starts (top 0) the first end, then backwards from there the last start.
    auto step = [&](std::vector<int> &col, char c, int top, bool backwards) {
        int diag = col[0];
        col[0] = top;
        for (size_t i = 1; i <= m; i++) {
            int up = col[i];
            col[i] = std::min({up + 1, col[i - 1] + 1, diag + (p[backwards ? m - i : i - 1] != c)});
            diag = up;
        }
    };
    std::vector<int> first(m + 1);
    for (size_t i = 0; i <= m; i++)
        first[i] = (int)i;
    for (size_t e = 0; e < t.size(); e++) {
        step(first, t[e], 0, false);
        if (first[m] > k) continue;
        std::vector<int> back(m + 1);
        for (size_t i = 0; i <= m; i++)
            back[i] = (int)i;
        for (size_t r = 1; r <= e + 1; r++) {
            step(back, t[e + 1 - r], (int)r, true);
            if (back[m] <= k) return (WORD)(e + 1 - r);
        }
    }
    return -1;
}

// Short patterns and texts of few letters, asked again with other limits so that the cache
// answers; then long patterns in long texts, which fill the state store many times over.
TEST(ApproxSearch, AgreesWithEditDistances) {
    auto agrees = [](const std::string &p, const std::string &t, int k, bool indels) {
        const WORD want = ApproxReference(p, t, k, indels);
        EXPECT_EQ(ApproxSearchString(p.data(), (WORD)p.size(), t.data(), (WORD)t.size(), k, indels),
                  want)
            << p << " in " << t << " k=" << k << " indels=" << indels;
        return !::testing::Test::HasFailure();
    };
    std::mt19937 rng(5);
    const std::string abcs[] = {"AB", "ACGT", "ACDEFGHIKLMNPQRSTVWY"};
    for (int round = 0; round < 10000; round++) {
        const std::string &abc = abcs[round % 3];
        std::string t = RandomText(rng, abc, rng() % 40);
        std::string p = RandomText(rng, abc, 1 + rng() % 9);
        if (round % 4 < 2 && t.size() > p.size()) {
            // An occurrence with a few errors, somewhere.
            std::string occ = Mutated(rng, p, abc, (int)(rng() % 3));
            t.replace(rng() % (t.size() - p.size() + 1), occ.size(), occ);
        }
        for (char &c : t)
            if (rng() % 4 == 0) c = (char)tolower(c);
        const int k = 1 + (int)(rng() % 3);
        for (int k2 : {k, k + 1, std::max(k - 1, 1), k})
            ASSERT_TRUE(agrees(p, t, k2, round % 2 == 0)) << "after k=" << k;
    }
    rng.seed(9);
    for (int round = 0; round < 12; round++) {
        const std::string abc = round % 2 ? "ACGT" : "ACDEFGHIKLMNPQRSTVWY";
        std::string t = RandomText(rng, abc, 30000);
        std::string p = RandomText(rng, abc, 40 + rng() % 60);
        const int k = 3 + (int)(rng() % 10);
        std::string occ = Mutated(rng, p, abc, k + (int)(rng() % 2));
        t.replace(20000 + rng() % 5000, occ.size(), occ);
        agrees(p, t, k, round % 3 != 0);
    }
}

// Random databases of related sequences, loaded from files of their own.
class SearchDb : public QuietKernelTest {
  protected:
    TempDir dir;
    UWORD savedmapsize = mapsize;
    int files = 0;
    std::mt19937 rng{3};

    void TearDown() override {
        ININDB[1] = 0;
        mapsize = savedmapsize;
        Collect();
    }
    // Sequences over abc, some copied from earlier ones with changes, some runs of one letter.
    std::vector<std::string> Sequences(const std::string &abc, int n) {
        std::vector<std::string> seqs;
        for (int e = 0; e < n; e++) {
            std::string s = RandomText(rng, abc, 1 + rng() % 40);
            if (e > 0 && rng() % 3 == 0) s = Mutated(rng, seqs[rng() % seqs.size()], abc, 2);
            if (rng() % 8 == 0) s = std::string(2 + rng() % 9, abc[0]) + s;
            if (s.empty()) s = abc.substr(0, 1);
            seqs.push_back(s);
        }
        return seqs;
    }
    database *Load(const std::vector<std::string> &seqs) {
        std::string text;
        for (size_t e = 0; e < seqs.size(); e++)
            text += "<E><ID>E" + std::to_string(e) + "</ID><SEQ>" + seqs[e] + "</SEQ></E>\n";
        text += std::string(100, ' ');
        std::string name = "r" + std::to_string(files++) + ".db";
        dir.Write(name, text);
        UnitCapture quiet;
        ReadDb(dir.Path(name).c_str());
        return CurrentDb();
    }
};

TEST_F(SearchDb, PrefixSearchAgreesWithALinearScan) {
    for (int round = 0; round < 30; round++) {
        database *df = Load(Sequences(round % 2 ? "ACGT" : "MKVLWACDE", 40));
        ASSERT_NE(df, nullptr);
        const std::string text(df->string, df->TotChars);
        for (int q = 0; q < 50; q++) {
            std::string p = RandomText(rng, round % 2 ? "ACGTX" : "MKVLWACDEY", rng() % 5);
            if (q % 2 == 0) p = text.substr(DB_GetPat(df, rng() % df->TotAA), 1 + rng() % 6);
            // Suffixes below p, and those that begin with it.
            WORD below = 0, with = 0;
            for (UWORD i = 0; i < df->TotAA; i++) {
                std::string s = text.substr(DB_GetPat(df, i), p.size());
                if (s == p)
                    with++;
                else if (s < p)
                    below++;
            }
            WORD first, last;
            SearchPepDFR(df, p.data(), (WORD)p.size(), &first, &last);
            EXPECT_EQ(first, p.empty() ? 0 : below) << p;
            EXPECT_EQ(last, first + with - 1) << p;
        }
    }
}

// Two offsets and a length.
typedef std::tuple<WORD, WORD, WORD> Pair;

// The common prefix of two suffixes up to the end of either sequence; whether both end there.
std::pair<WORD, bool> SeqPrefix(const std::string &t, size_t p, size_t q) {
    WORD l = 0;
    while (t[p + l] == t[q + l] && t[p + l] != '<')
        l++;
    return {l, t[p + l] == '<' && t[q + l] == '<'};
}

std::vector<Pair> Repeats(ALGEB r) {
    std::vector<Pair> out;
    auto add = [&](ALGEB m) {
        Match *x = (Match *)m;
        EXPECT_EQ(x->Length1, x->Length2);
        out.push_back({x->Offset1, x->Offset2, x->Length1});
    };
    if (ID(r) == MATCH)
        add(r);
    else
        for (WORD i = 1; i < LENGTH(A(r[1])); i++)
            add(A(A(r[1])[i]));
    return out;
}

TEST_F(SearchDb, LongestRepeatsAgreeWithPairwisePrefixes) {
    for (int round = 0; round < 40; round++) {
        database *df = Load(Sequences(round % 2 ? "ACGT" : "MKVLW", 25));
        const std::string text(df->string, df->TotChars);
        const WORD n = (WORD)df->TotAA;
        std::vector<size_t> pat(n);
        for (WORD i = 0; i < n; i++)
            pat[i] = DB_GetPat(df, i);
        auto extendable = [&](size_t p, size_t q) {
            return text[p - 1] == text[q - 1] && text[p - 1] != '>';
        };
        // The longest: the greatest prefix of any two suffixes, reached first by neighbours.
        WORD best = 0;
        for (WORD j = 0; j < n; j++)
            for (WORD i = j + 1; i < n; i++)
                best = std::max(best, SeqPrefix(text, pat[j], pat[i]).first);
        testing::internal::CaptureStdout();
        std::vector<Pair> got = Repeats(FindLongestRep(df, 0, 0));
        fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "The longest repetition is " + std::to_string(best) + " chars long\n");
        if (best == 0) {
            EXPECT_TRUE(got.empty());
        } else {
            ASSERT_EQ(got.size(), 1u);
            WORD at = 1;
            while (extendable(pat[at - 1], pat[at]) ||
                   SeqPrefix(text, pat[at - 1], pat[at]).first < best)
                at++;
            EXPECT_EQ(got[0], Pair((WORD)pat[at - 1], (WORD)pat[at], best));
        }
        // All repeats of at least len, with and without the bonus.
        for (WORD len : {3, 5, 8})
            for (WORD bonus : {0, 1, 3}) {
                std::vector<Pair> want;
                for (WORD i = 1; i < n; i++)
                    for (WORD j = i - 1; j >= 0; j--) {
                        if (extendable(pat[j], pat[i])) continue;
                        auto [l, ends] = SeqPrefix(text, pat[j], pat[i]);
                        if (l + (ends ? bonus : 0) >= len)
                            want.push_back({(WORD)pat[j], (WORD)pat[i], l});
                    }
                ASSERT_EQ(Repeats(FindLongestRep(df, len, bonus)), want)
                    << "len " << len << " bonus " << bonus << " round " << round;
            }
    }
}

TEST_F(SearchDb, FrequentStringsAgreeWithCountsOfEveryKgram) {
    for (int round = 0; round < 20; round++) {
        std::vector<std::string> seqs = Sequences(round % 2 ? "AC" : "MKVLW", 30);
        ASSERT_NE(Load(seqs), nullptr);
        const WORD n = 1 + (WORD)(rng() % 6), k = 1 + (WORD)(rng() % 4);
        // Every string of k residues, its count and its count without overlaps.
        std::map<std::string, std::pair<WORD, WORD>> grams;
        std::map<std::string, std::pair<size_t, int>> lastat; // last kept start, sequence
        for (size_t e = 0; e < seqs.size(); e++)
            for (size_t s = 0; s + k <= seqs[e].size(); s++) {
                std::string g = seqs[e].substr(s, k);
                auto &c = grams[g];
                c.first++;
                auto it = lastat.find(g);
                if (it == lastat.end() || it->second.second != (int)e ||
                    s >= it->second.first + (size_t)k) {
                    c.second++;
                    lastat[g] = {s, (int)e};
                }
            }
        std::vector<WORD> counts;
        for (auto &[g, c] : grams)
            if (c.first >= 2) counts.push_back(c.first);
        std::sort(counts.rbegin(), counts.rend());
        counts.resize(std::min(counts.size(), (size_t)n));
        std::reverse(counts.begin(), counts.end());

        UnitCapture cap;
        GetMostFrequentGrams(n, k);
        const std::string out = cap.Written();
        std::istringstream lines(out);
        std::string line;
        std::getline(lines, line);
        std::getline(lines, line);
        EXPECT_EQ(line, "The " + std::to_string(counts.size()) +
                            " most frequent strings of length " + std::to_string(k) +
                            " or longer are:");
        for (WORD want : counts) {
            ASSERT_TRUE(std::getline(lines, line)) << out;
            const std::string g = line.substr(2, (size_t)k);
            const auto [all, apart] = grams[g];
            std::string expect = "\t\"" + g + "\" occurs " + std::to_string(all) + " times";
            if (apart != all) expect += " (" + std::to_string(apart) + " without overlaps)";
            EXPECT_EQ(line, expect);
            EXPECT_EQ(all, want) << out;
        }
        EXPECT_FALSE(std::getline(lines, line)) << out;
    }
}

// As many groups as there are slots come back, the whole match first.
TEST_F(SearchDb, MatchRegexGivesEveryGroup) {
    const std::string pat = std::string(23, '(') + "a" + std::string(23, ')');
    ALGEB r = MatchRegex(pat.data(), (WORD)pat.size(), "xa", 2);
    ASSERT_EQ(LENGTH(A(r[1])), 25);
    for (WORD i = 1; i < 25; i++)
        EXPECT_EQ(Text(A(A(r[1])[i])), "a");
}

} // namespace
