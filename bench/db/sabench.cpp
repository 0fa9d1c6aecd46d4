// The peer of the Pat index build: libdivsufsort's suffix array of the same whole text, timed.
// sabench FILE prints the processor seconds divsufsort (divsufsort64 above 2 GiB) takes.
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <divsufsort.h>
#include <divsufsort64.h>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    FILE *f = fopen(argv[1], "rb");
    if (!f) return 1;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    rewind(f);
    std::vector<unsigned char> t(n);
    if (fread(t.data(), 1, n, f) != (size_t)n) return 1;
    fclose(f);
    std::clock_t t0 = std::clock();
    if (n < 0x7fffffffL) {
        std::vector<saidx_t> sa(n);
        if (divsufsort(t.data(), sa.data(), (saidx_t)n) != 0) return 1;
    } else {
        std::vector<saidx64_t> sa(n);
        if (divsufsort64(t.data(), sa.data(), n) != 0) return 1;
    }
    double s = (double)(std::clock() - t0) / CLOCKS_PER_SEC;
    printf("%.2f\n", s);
    return 0;
}
