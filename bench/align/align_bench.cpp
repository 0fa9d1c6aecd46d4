// All-against-all local scores of a protein set by lumbra's striped scorers and by parasail's,
// side by side: every score compared, processor time per scorer, GCUPS and their ratios.
//
//   align_bench [--rounds N] [--db FILE] [--count N] [--only PART-OF-A-NAME]
//
// The set is the sequences of a database file (data/sample.db by the run script); without one
// it is made here: families of related sequences with the amino-acid composition of
// Swiss-Prot and lengths of a log-normal law around 300.
#include <parasail.h>
#include <parasail/cpuid.h>
#include <parasail/matrices/blosum62.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "DynProgr_simd.h"

namespace {

const char AminoAcids[] = "ARNDCQEGHILKMFPSTWYV";
const double Composition[20] = {8.25, 5.53, 4.06, 5.45, 1.37, 3.93, 6.75, 7.07, 2.27, 5.96,
                                9.66, 5.84, 2.42, 3.86, 4.70, 6.56, 5.34, 1.08, 2.92, 6.87};

std::vector<std::string> MakeSet(int count) {
    std::mt19937 rng(2024);
    std::discrete_distribution<int> aa(std::begin(Composition), std::end(Composition));
    std::lognormal_distribution<double> len(std::log(300.0), 0.5);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<std::string> set;
    while ((int)set.size() < count) {
        // A family: an ancestor and members at 30 to 90 percent substitutions and some indels.
        const int n = std::clamp((int)len(rng), 40, 1200);
        std::string root;
        for (int i = 0; i < n; i++)
            root += AminoAcids[aa(rng)];
        for (int m = 0; m < 4 && (int)set.size() < count; m++) {
            const double sub = 0.1 + 0.6 * u(rng);
            std::string s;
            for (char c : root) {
                const double r = u(rng);
                if (r < 0.03) continue;
                s += r < sub ? AminoAcids[aa(rng)] : c;
                while (u(rng) < 0.03)
                    s += AminoAcids[aa(rng)];
            }
            set.push_back(s);
        }
    }
    return set;
}

// The sequences (the text of the SEQ tags) of the first count entries of a database file.
std::vector<std::string> ReadDatabase(const char *file, int count) {
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> set;
    for (size_t at = text.find("<SEQ>"); at != std::string::npos && (int)set.size() < count;
         at = text.find("<SEQ>", at)) {
        const size_t end = text.find("</SEQ>", at);
        if (end == std::string::npos) break;
        std::string s;
        for (size_t k = at + 5; k < end; k++)
            if (std::strchr(AminoAcids, text[k]) != nullptr) s += text[k];
        if (!s.empty()) set.push_back(s);
        at = end;
    }
    return set;
}

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

struct Scorer {
    std::string name;
    // Fills one score per pair; a saturated integer score is DBL_MAX.
    void (*run)(const Scorer &, std::vector<double> &);
    LocalCell cell;
    int64_t target;
    parasail_function_t *peer;
    std::vector<double> seconds;
};

const parasail_matrix_t *Matrix = &parasail_blosum62;
const int Open = 11, Extend = 1;
std::vector<std::string> Seqs;
std::vector<std::vector<uint8_t>> Index;
std::vector<double> Simi;
std::vector<char> Work;

void RunOurs(const Scorer &s, std::vector<double> &out) {
    LocalScorerForce(s.target);
    const DPScoring sc{Simi.data(), Matrix->size, -(double)Open, -(double)Extend};
    // Bounds that make the integer factors 1, so that the cells hold the scores themselves.
    const double bound = s.cell == LocalCell::Short ? 65535 : 255;
    size_t k = 0;
    for (const auto &a : Index)
        for (const auto &b : Index)
            out[k++] = LocalScoreStriped(s.cell, a.data(), (int)a.size(), b.data(), (int)b.size(),
                                         sc, DBL_MAX, bound, Work.data(), nullptr)
                           .score;
}

void RunPeer(const Scorer &s, std::vector<double> &out) {
    size_t k = 0;
    for (const auto &a : Seqs)
        for (const auto &b : Seqs) {
            parasail_result_t *r =
                s.peer(b.data(), (int)b.size(), a.data(), (int)a.size(), Open, Extend, Matrix);
            out[k++] =
                parasail_result_is_saturated(r) ? DBL_MAX : (double)parasail_result_get_score(r);
            parasail_result_free(r);
        }
}

double Median(std::vector<double> x) {
    std::sort(x.begin(), x.end());
    return x[x.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    int rounds = 5, count = 100;
    const char *db = nullptr, *only = "";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--db")) db = argv[i + 1];
        if (!std::strcmp(argv[i], "--count")) count = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
    }
    Seqs = db != nullptr ? ReadDatabase(db, count) : MakeSet(count);
    if (Seqs.empty()) {
        fprintf(stderr, "no sequences\n");
        return 1;
    }
    double cells = 0;
    size_t longest = 0;
    for (const auto &a : Seqs) {
        longest = std::max(longest, a.size());
        std::vector<uint8_t> x;
        for (char c : a)
            x.push_back((uint8_t)Matrix->mapper[(unsigned char)c]);
        Index.push_back(x);
        for (const auto &b : Seqs)
            cells += (double)a.size() * (double)b.size();
    }
    for (int i = 0; i < Matrix->size * Matrix->size; i++)
        Simi.push_back(Matrix->matrix[i]);
    const DPScoring sc{Simi.data(), Matrix->size, -(double)Open, -(double)Extend};
    Work.resize(LocalWorkBytes(LocalCell::Double, (int)longest, sc, 0));

    std::vector<Scorer> scorers;
    const int64_t best = LocalScorerTarget();
    std::vector<int64_t> targets{best};
    for (int64_t t : LocalScorerTargets())
        if (!std::strcmp(LocalScorerTargetName(t), "AVX2") && t != best) targets.push_back(t);
    const char *cells_names[] = {"double", "float", "16-bit", "8-bit"};
    for (int64_t t : targets)
        for (int c = 0; c < 4; c++)
            scorers.push_back(
                {std::string("lumbra ") + cells_names[c] + " (" + LocalScorerTargetName(t) + ")",
                 RunOurs,
                 (LocalCell)c,
                 t,
                 nullptr,
                 {}});
    const char *isa = parasail_can_use_avx2() ? "AVX2" : "SSE4.1";
    scorers.push_back({std::string("parasail striped 64 (") + isa + ")",
                       RunPeer,
                       LocalCell::Double,
                       0,
                       parasail_sw_striped_64,
                       {}});
    scorers.push_back({std::string("parasail striped 32 (") + isa + ")",
                       RunPeer,
                       LocalCell::Double,
                       0,
                       parasail_sw_striped_32,
                       {}});
    scorers.push_back({std::string("parasail striped 16 (") + isa + ")",
                       RunPeer,
                       LocalCell::Double,
                       0,
                       parasail_sw_striped_16,
                       {}});
    scorers.push_back({std::string("parasail striped 8 (") + isa + ")",
                       RunPeer,
                       LocalCell::Double,
                       0,
                       parasail_sw_striped_8,
                       {}});

    // Each round runs every scorer once, so that a change of load touches all alike.
    const size_t pairs = Seqs.size() * Seqs.size();
    std::vector<double> reference(pairs), out(pairs);
    int mismatches = 0;
    std::vector<int> saturated(scorers.size());
    for (int r = 0; r < rounds; r++)
        for (size_t s = 0; s < scorers.size(); s++) {
            if (scorers[s].name.find(only) == std::string::npos) {
                scorers[s].seconds.push_back(1e-9);
                continue;
            }
            const double t0 = CpuSeconds();
            scorers[s].run(scorers[s], out);
            scorers[s].seconds.push_back(CpuSeconds() - t0);
            if (r > 0) continue;
            if (s == 0) reference = out;
            saturated[s] = 0;
            for (size_t k = 0; k < pairs; k++) {
                if (out[k] == DBL_MAX) {
                    saturated[s]++;
                    continue;
                }
                if (out[k] != reference[k]) {
                    if (mismatches++ < 10)
                        fprintf(stderr, "%s: pair %zu scores %g, not %g\n", scorers[s].name.c_str(),
                                k, out[k], reference[k]);
                }
            }
        }
    LocalScorerForce(0);

    printf("%zu sequences (%zu to %zu long), %zu pairs, %.3g cells, BLOSUM62, gaps %d + %d(k-1), "
           "%d rounds; median processor seconds\n\n",
           Seqs.size(),
           std::min_element(Seqs.begin(), Seqs.end(),
                            [](auto &a, auto &b) { return a.size() < b.size(); })
               ->size(),
           longest, pairs, cells, Open, Extend, rounds);
    printf("| scorer | seconds | GCUPS | saturated |");
    const size_t peers = 4, first = scorers.size() - peers;
    for (size_t p = first; p < scorers.size(); p++)
        printf(" / %s |", scorers[p].name.substr(9, scorers[p].name.find(' ', 18) - 9).c_str());
    printf("\n|---|---:|---:|---:|");
    for (size_t p = first; p < scorers.size(); p++)
        printf("---:|");
    printf("\n");
    for (size_t s = 0; s < scorers.size(); s++) {
        const double sec = Median(scorers[s].seconds);
        printf("| %s | %.3f | %.2f | %d |", scorers[s].name.c_str(), sec, cells / sec / 1e9,
               saturated[s]);
        for (size_t p = first; p < scorers.size(); p++)
            printf(" %.2f |", Median(scorers[p].seconds) / sec);
        printf("\n");
    }
    printf("\n%s\n", mismatches == 0 ? "every unsaturated score identical"
                                     : "SCORES DIFFER (see the standard error)");
    return mismatches == 0 ? 0 : 1;
}
