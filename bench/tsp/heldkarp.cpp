// The Held-Karp lower bound of a Euclidean instance: 1-trees under node penalties, the
// penalties found by subgradient optimisation. Reads "n" and n lines "x y" on standard input,
// prints the bound, the number of ascent steps and the upper bound the step sizes aimed at.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

int n;
std::vector<double> X, Y, D; // D: the full distance matrix, row-major

double dist(int a, int b) { return D[(size_t)a * n + b]; }

// The 1-tree under penalties pi: a minimum spanning tree of points 1..n-1 (Prim) and the two
// cheapest edges of point 0. Its cost less twice the penalties; deg receives the degrees.
double OneTree(const std::vector<double> &pi, std::vector<int> &deg) {
    std::vector<double> key(n, HUGE_VAL);
    std::vector<int> from(n, -1);
    std::vector<char> in(n, 0);
    std::fill(deg.begin(), deg.end(), 0);
    double cost = 0;
    key[1] = 0;
    for (int step = 1; step < n; step++) {
        int u = -1;
        for (int v = 1; v < n; v++)
            if (!in[v] && (u < 0 || key[v] < key[u])) u = v;
        in[u] = 1;
        cost += key[u];
        if (from[u] >= 0) deg[u]++, deg[from[u]]++;
        const double *Du = &D[(size_t)u * n];
        for (int v = 1; v < n; v++) {
            double c = Du[v] + pi[u] + pi[v];
            if (!in[v] && c < key[v]) key[v] = c, from[v] = u;
        }
    }
    int b1 = -1, b2 = -1;
    for (int v = 1; v < n; v++) {
        double c = dist(0, v) + pi[0] + pi[v];
        if (b1 < 0 || c < dist(0, b1) + pi[0] + pi[b1]) {
            b2 = b1;
            b1 = v;
        } else if (b2 < 0 || c < dist(0, b2) + pi[0] + pi[b2]) {
            b2 = v;
        }
    }
    cost += dist(0, b1) + pi[0] + pi[b1] + dist(0, b2) + pi[0] + pi[b2];
    deg[0] = 2;
    deg[b1]++;
    deg[b2]++;
    double sum = 0;
    for (int v = 0; v < n; v++)
        sum += pi[v];
    return cost - 2 * sum;
}

// A tour for the step sizes: nearest neighbour, then 2-opt and moves of single points.
double UpperBound() {
    std::vector<int> t;
    std::vector<char> seen(n, 0);
    t.push_back(0);
    seen[0] = 1;
    for (int k = 1; k < n; k++) {
        int a = t.back(), b = -1;
        for (int v = 0; v < n; v++)
            if (!seen[v] && (b < 0 || dist(a, v) < dist(a, b))) b = v;
        t.push_back(b);
        seen[b] = 1;
    }
    for (bool better = true; better;) {
        better = false;
        for (int i = 0; i < n - 1; i++)
            for (int j = i + 2; j < n; j++) {
                int a = t[i], b = t[i + 1], c = t[j], d = t[(j + 1) % n];
                if (a == d) continue;
                if (dist(a, c) + dist(b, d) < dist(a, b) + dist(c, d) - 1e-9) {
                    std::reverse(t.begin() + i + 1, t.begin() + j + 1);
                    better = true;
                }
            }
    }
    double c = 0;
    for (int k = 0; k < n; k++)
        c += dist(t[k], t[(k + 1) % n]);
    return c;
}

} // namespace

int main() {
    if (scanf("%d", &n) != 1 || n < 3) return 1;
    X.resize(n);
    Y.resize(n);
    for (int i = 0; i < n; i++)
        if (scanf("%lf %lf", &X[i], &Y[i]) != 2) return 1;
    D.resize((size_t)n * n);
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
            D[(size_t)i * n + j] =
                std::sqrt((X[i] - X[j]) * (X[i] - X[j]) + (Y[i] - Y[j]) * (Y[i] - Y[j]));
    double ub = UpperBound();
    std::vector<double> pi(n, 0), bestpi(n, 0);
    std::vector<int> deg(n), lastg(n, 0);
    double best = -HUGE_VAL, lambda = 2;
    int since = 0, steps = 0;
    // Polyak steps towards the upper bound; the step factor halves when the bound stalls.
    // The direction blends in the previous subgradient, which damps the zig-zag.
    while (lambda > 1e-7 && steps < 20000) {
        steps++;
        double w = OneTree(pi, deg);
        if (w > best + 1e-12 * std::fabs(w)) {
            best = w;
            bestpi = pi;
            since = 0;
        } else if (++since >= 30) {
            lambda /= 2;
            since = 0;
            pi = bestpi;
        }
        double norm = 0;
        std::vector<double> g(n);
        for (int v = 0; v < n; v++) {
            g[v] = 0.7 * (deg[v] - 2) + 0.3 * lastg[v];
            norm += g[v] * g[v];
            lastg[v] = deg[v] - 2;
        }
        if (norm == 0) break; // the 1-tree is a tour: the bound is the optimum
        double step = lambda * (ub - w) / norm;
        for (int v = 0; v < n; v++)
            pi[v] += step * g[v];
    }
    printf("%.6f %d %.6f\n", best, steps, ub);
    return 0;
}
