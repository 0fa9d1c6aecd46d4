#!/usr/bin/env python3
"""Writes lib/models/LG, WAG and JTT from the data files of Debian's paml package.

Each paml file holds the exchangeabilities S_ij as a lower triangle (rows 2..20), then the
20 equilibrium frequencies, then notes with a line naming the amino acids in order
("Ala Arg Asn ..."). Our files hold the same numbers, spelled exactly as paml spells them,
in the order of lumbra's amino-acid codes, as one expression of the language:
[[row 2, ..., row 20], [frequencies]].

    python3 bench/dayhoff/models.py [paml data directory]
"""
import os
import sys

# lumbra's amino-acid codes 1..20, as three-letter names.
OURS = ["Ala", "Arg", "Asn", "Asp", "Cys", "Gln", "Glu", "Gly", "His", "Ile",
        "Leu", "Lys", "Met", "Phe", "Pro", "Ser", "Thr", "Trp", "Tyr", "Val"]

MODELS = [
    ("LG", "lg.dat", "Le and Gascuel (2008), Mol. Biol. Evol. 25:1307-1320"),
    ("WAG", "wag.dat", "Whelan and Goldman (2001), Mol. Biol. Evol. 18:691-699"),
    ("JTT", "jones.dat", "Jones, Taylor and Thornton (1992), CABIOS 8:275-282"),
]


def read_paml(path):
    """The triangle (S[i][j] for j < i, i = 1..19), the frequencies and the order of the file."""
    with open(path, encoding="latin-1") as f:
        lines = [l.replace("\r", "").strip() for l in f]
    tokens = []
    order = None
    for line in lines:
        words = line.split()
        if words[:3] == ["Ala", "Arg", "Asn"] and len(words) == 20:
            order = words
            break
        if len(tokens) < 210 and not line.startswith("//"):
            tokens.extend(words)
    if order is None or len(tokens) < 210:
        sys.exit(f"{path}: not a paml amino-acid model file")
    tokens = tokens[:210]
    rows, k = [], 0
    for i in range(1, 20):
        rows.append(tokens[k:k + i])
        k += i
    return rows, tokens[190:210], order


def reorder(rows, freqs, order):
    """The same model in our order; the numbers stay the texts paml wrote."""
    pos = [order.index(a) for a in OURS]

    def s(i, j):  # paml positions
        if i == j:
            return "0"
        return rows[i - 1][j] if i > j else rows[j - 1][i]

    ours = [[s(pos[i], pos[j]) for j in range(i)] for i in range(1, 20)]
    return ours, [freqs[p] for p in pos]


def write(name, source, cite, rows, freqs, out):
    with open(out, "w") as f:
        f.write(f"# {name}: the amino-acid replacement model of {cite}.\n")
        f.write("# Exchangeabilities S[i, j] = S[j, i] as a lower triangle (rows 2 to 20, row i\n")
        f.write("# holding S[i, 1..i-1]) and the equilibrium frequencies, amino acids in the\n")
        f.write("# order of their codes: A R N D C Q E G H I L K M F P S T W Y V.\n")
        f.write(f"# Written by bench/dayhoff/models.py from {source} of Debian's paml package.\n")
        f.write("[[\n")
        for i, row in enumerate(rows):
            f.write("  [" + ", ".join(row) + "]" + ("," if i < len(rows) - 1 else "") + "\n")
        f.write(" ],\n [" + ", ".join(freqs) + "]]:\n")


def main():
    data = sys.argv[1] if len(sys.argv) > 1 else "/usr/lib/paml/data/dat"
    lib = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "lib", "models")
    for name, source, cite in MODELS:
        rows, freqs, order = read_paml(os.path.join(data, source))
        rows, freqs = reorder(rows, freqs, order)
        write(name, source, cite, rows, freqs, os.path.join(lib, name))


if __name__ == "__main__":
    main()
