// The exact maximum of the pair likelihood over the distance, by a plain one-dimensional search:
// the reference of the PAM benchmark. It shares no code with lumbra.
//
// mlsearch RATES PAIRS: RATES holds the 20 x 20 rate matrix of one PAM (rows summing to 0, in
// the order ARNDCQEGHILKMFPSTWYV), PAIRS one aligned pair a line ("A B", no gaps). For each pair
// the distance d maximising sum log exp(d L)[a_k][b_k] is printed, to 1e-9 relative.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int N = 20;
using Mat = std::vector<double>;

Mat mul(const Mat &a, const Mat &b) {
    Mat c(N * N, 0.0);
    for (int i = 0; i < N; i++)
        for (int k = 0; k < N; k++)
            for (int j = 0; j < N; j++)
                c[i * N + j] += a[i * N + k] * b[k * N + j];
    return c;
}

// exp(d L) by scaling and squaring of a Taylor series, in long double for the sums.
Mat expm(const Mat &L, double d) {
    int s = 0;
    double norm = 0;
    for (double x : L)
        norm = std::fmax(norm, std::fabs(x * d));
    while (norm * N > 0.01) {
        norm /= 2;
        s++;
    }
    const double h = d / std::ldexp(1.0, s);
    Mat e(N * N, 0.0), term(N * N, 0.0), A(N * N);
    for (int i = 0; i < N * N; i++)
        A[i] = L[i] * h;
    for (int i = 0; i < N; i++)
        e[i * N + i] = term[i * N + i] = 1;
    for (int k = 1; k <= 20; k++) {
        term = mul(term, A);
        for (int i = 0; i < N * N; i++) {
            term[i] /= k;
            e[i] += term[i];
        }
    }
    for (int k = 0; k < s; k++)
        e = mul(e, e);
    return e;
}

double loglik(const Mat &L, const std::vector<int> &pairs, double d) {
    const Mat M = expm(L, d);
    double s = 0;
    for (int p : pairs)
        s += std::log(M[p]);
    return s;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mlsearch RATES PAIRS\n");
        return 2;
    }
    const char *order = "ARNDCQEGHILKMFPSTWYV";
    Mat L(N * N);
    std::ifstream rates(argv[1]);
    for (double &x : L)
        if (!(rates >> x)) {
            std::fprintf(stderr, "mlsearch: short rate file\n");
            return 1;
        }
    std::ifstream in(argv[2]);
    std::string a, b;
    while (in >> a >> b) {
        std::vector<int> pairs;
        for (size_t i = 0; i < a.size() && i < b.size(); i++) {
            const char *x = std::strchr(order, a[i]), *y = std::strchr(order, b[i]);
            if (x && y && *x && *y) pairs.push_back((int)(x - order) * N + (int)(y - order));
        }
        // The best of a grid on a logarithmic scale, then golden sections around it.
        double best = 0.1, fbest = -HUGE_VAL;
        for (double d = 0.1; d <= 3000; d *= 1.05) {
            const double f = loglik(L, pairs, d);
            if (f > fbest) {
                fbest = f;
                best = d;
            }
        }
        double lo = best / 1.05, hi = best * 1.05;
        const double g = (std::sqrt(5.0) - 1) / 2;
        double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
        double f1 = loglik(L, pairs, x1), f2 = loglik(L, pairs, x2);
        while (hi - lo > 1e-10 * hi) {
            if (f1 < f2) {
                lo = x1;
                x1 = x2;
                f1 = f2;
                x2 = lo + g * (hi - lo);
                f2 = loglik(L, pairs, x2);
            } else {
                hi = x2;
                x2 = x1;
                f2 = f1;
                x1 = hi - g * (hi - lo);
                f1 = loglik(L, pairs, x1);
            }
        }
        std::printf("%.10f\n", (lo + hi) / 2);
    }
    return 0;
}
