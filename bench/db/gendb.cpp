// Writes a synthetic protein database in the tagged format to standard output: gendb ENTRIES
// [PADDING]. Lengths and residue frequencies are those of typical proteins; one entry in five is
// a mutated copy of an earlier one, so that long shared stretches occur as in real databases.
// PADDING adds that many characters of description to every entry.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    long n = argc > 1 ? atol(argv[1]) : 1000;
    long pad = argc > 2 ? atol(argv[2]) : 0;
    std::mt19937_64 rng(12345);
    const char *aa = "ARNDCQEGHILKMFPSTWYV";
    const double freq[20] = {8.3, 5.5, 4.1, 5.5, 1.4, 3.9, 6.7, 7.1, 2.3, 5.9,
                             9.7, 5.8, 2.4, 3.9, 4.7, 6.6, 5.3, 1.1, 2.9, 6.9};
    std::discrete_distribution<int> res(freq, freq + 20);
    std::lognormal_distribution<double> len(5.7, 0.6); // median about 300
    std::vector<std::string> recent;
    std::string seq, padding(pad, 'x'), out;
    static char buf[1 << 20];
    setvbuf(stdout, buf, _IOFBF, sizeof buf);
    for (long e = 1; e <= n; e++) {
        seq.clear();
        if (!recent.empty() && rng() % 5 == 0) {
            seq = recent[rng() % recent.size()];
            for (char &c : seq)
                if (rng() % 10 == 0) c = aa[res(rng)];
        } else {
            long l = (long)len(rng);
            if (l < 20) l = 20;
            if (l > 5000) l = 5000;
            for (long i = 0; i < l; i++)
                seq += aa[res(rng)];
        }
        if (recent.size() < 1000)
            recent.push_back(seq);
        else
            recent[rng() % 1000] = seq;
        printf("<E><ID>P%07ld_SYN</ID><AC>S%07ld;</AC><DE>synthetic entry "
               "%ld%s</DE><SEQ>%s</SEQ></E>\n",
               e, e, e, padding.c_str(), seq.c_str());
    }
    return 0;
}
