#!/usr/bin/env python3
"""The peer of create.lum: the matrices of the LG model for PAM 1..1000 with numpy.

The same work as lumbra's CreateDayMatrices: the rates scaled to change 1 % of the residues
per PAM, PAM 1 by the matrix exponential (here through the eigen-decomposition of the
symmetrised rates), the others by products with it, each scored 10*log10(M[i, j] / f[i])
and rounded to multiples of 2^-bits with the gap costs; prints the PAM 250 score of W, W.
"""
import ast
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


def load(path):
    with open(path) as f:
        text = "".join(l for l in f if not l.startswith("#")).strip().rstrip(":")
    return ast.literal_eval(text)


def roundbits(x, bits):
    return np.ldexp(np.rint(np.ldexp(x, bits)), -bits)


def main():
    rows, freqs = load(os.path.join(HERE, "..", "..", "lib", "models", "LG"))
    n = len(freqs)
    S = np.zeros((n, n))
    for i, row in enumerate(rows, start=1):
        for j, x in enumerate(row):
            S[i, j] = S[j, i] = x
    f = np.array(freqs) / sum(freqs)
    Q = S * f[:, None]  # Q[i, j]: the rate at which j becomes i
    Q -= np.diag(Q.sum(axis=0))
    Q *= 0.01 / -(f @ np.diag(Q))
    d = np.sqrt(f)
    w, V = np.linalg.eigh(Q * d[None, :] / d[:, None])
    P1 = (d[:, None] * V) @ np.diag(np.exp(w)) @ (V.T / d[None, :])
    P = P1
    matrices = []
    for pam in range(1, 1001):
        s = 10 * np.log10(P / f[:, None])
        maxs = max(s.max(), 0)
        bits = np.frexp(2.0**53 / (2 * 100010 * max(maxs, 1)))[1] - 1 if maxs >= 1 else 35
        fixed = roundbits(7.434 * np.log10(pam) - 37.64, bits)
        inc = roundbits(-1.3961, bits)
        matrices.append((roundbits(s, bits), fixed, inc))
        P = P @ P1
    W = "ARNDCQEGHILKMFPSTWYV".index("W")
    print("%.6f" % matrices[249][0][W, W])


if __name__ == "__main__":
    sys.exit(main())
