// A reference for matrix exponentials of reversible rate matrices: an eigen-decomposition by
// cyclic Jacobi rotations, a method unrelated to the series and squarings of mexp and to the
// Householder and QL steps of Eigenvalues.
#pragma once

#include <cmath>
#include <vector>

namespace testkit {

typedef std::vector<double> Dense; // row-major n x n

// The symmetric S as V diag(w) V^T. T is double, or long double for a reference finer than
// the results it checks.
template <class T>
void Jacobi(std::vector<T> S, int n, std::vector<T> &w, std::vector<T> &V) {
    V.assign(n * n, 0);
    for (int i = 0; i < n; i++)
        V[i * n + i] = 1;
    for (int sweep = 0; sweep < 100; sweep++) {
        T off = 0;
        for (int p = 0; p < n; p++)
            for (int q = p + 1; q < n; q++)
                off += S[p * n + q] * S[p * n + q];
        if (off < 1e-300) break;
        for (int p = 0; p < n; p++)
            for (int q = p + 1; q < n; q++) {
                T apq = S[p * n + q];
                if (apq == 0) continue;
                T theta = (S[q * n + q] - S[p * n + p]) / (2 * apq);
                T t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                T c = 1 / std::sqrt(t * t + 1), s = t * c;
                auto rotate = [&](T &x, T &y) {
                    T x0 = x;
                    x = c * x0 - s * y;
                    y = s * x0 + c * y;
                };
                for (int k = 0; k < n; k++) // columns p and q of S, then rows, then of V
                    rotate(S[k * n + p], S[k * n + q]);
                for (int k = 0; k < n; k++)
                    rotate(S[p * n + k], S[q * n + k]);
                for (int k = 0; k < n; k++)
                    rotate(V[k * n + p], V[k * n + q]);
            }
    }
    w.resize(n);
    for (int i = 0; i < n; i++)
        w[i] = S[i * n + i];
}

// A reversible rate matrix: stationary frequencies pi, rates Q.
struct Rates {
    int n;
    std::vector<double> pi;
    Dense Q;
};

// exp(Q) = P^-1/2 exp(S) P^1/2 with the symmetric S = P^1/2 Q P^-1/2, computed in T.
template <class T = double>
Dense ExpByEigen(const Rates &r) {
    int n = r.n;
    std::vector<T> S(n * n);
    for (int i = 0; i < n; i++) // rounding must not break the symmetry Jacobi relies on
        for (int j = i; j < n; j++)
            S[i * n + j] = S[j * n + i] = std::sqrt((T)r.pi[i] / r.pi[j]) * r.Q[i * n + j];
    std::vector<T> w, V;
    Jacobi(S, n, w, V);
    Dense E(n * n);
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            // exp(S) = I + V diag(expm1(w)) V^T keeps the digits of small entries, which
            // V diag(exp(w)) V^T would lose to cancellation.
            T s = 0;
            for (int k = 0; k < n; k++)
                s += V[i * n + k] * std::expm1(w[k]) * V[j * n + k];
            E[i * n + j] = (double)(std::sqrt((T)r.pi[j] / r.pi[i]) * ((i == j) + s));
        }
    return E;
}

} // namespace testkit
