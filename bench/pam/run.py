"""PAM distances of pairs evolved by evolver (paml) at known distances under WAG, without gaps:
EstimatePam's maximum-likelihood distance beside codeml's pairwise distance under the same
model, both against the truth and against the exact maximum of the likelihood found by a plain
one-dimensional search (mlsearch). Prints a markdown table."""
import argparse
import os
import re
import statistics
import subprocess
import tempfile
import time

DISTANCES = [5, 10, 20, 50, 100, 150, 200, 250, 300]
PAML_DATA = "/usr/lib/paml/data/dat/wag.dat"
ORDER = "A R N D C Q E G H I\n L K M F P S T W Y V"


def evolve(work, pam, pairs, length, seed):
    """pairs pairs of length sites, PAM pam apart (d/100 substitutions a site in all)."""
    with open(os.path.join(work, "MCaa.dat"), "w") as f:
        f.write(f"0\n{seed}\n2 {length} {pairs}\n-1\n")
        f.write(f"(A:{pam / 200:.6f}, B:{pam / 200:.6f});\n0 0\n2 wag.dat\n")
        f.write(("0.05 " * 10 + "\n") * 2 + "\n " + ORDER + "\n")
    subprocess.run(["paml-evolver", "7", "MCaa.dat"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    text = open(os.path.join(work, "mc.paml")).read()
    seqs = {"A": [], "B": []}
    for name, rest in re.findall(r"^([AB]) +(.*)$", text, re.M):
        seqs[name].append(rest.replace(" ", ""))
    return list(zip(seqs["A"], seqs["B"]))


def lumbra_distances(lumbra, work, pairs):
    """EstimatePam's distance of each pair, the rate matrix written for mlsearch, the seconds."""
    lines = ["CreateDayMatrices(WAG):",
             "L := DMS[1][noeval(logPAM1)]:",
             "OpenWriting('rates'): for r in L do for x in r do printf('%.17g\\n', x) od od:",
             "OpenWriting(previous):",
             "t := time():"]
    for a, b in pairs:
        lines.append(f"ExpectedPamDistance := 0: r := EstimatePam('{a}', '{b}', DMS): "
                     "printf('%.12g %.12g %.12g\\n', MLPamDistance, ExpectedPamDistance, r[2]):")
    lines.append("printf('time %.6f\\n', time() - t):")
    out = subprocess.run([lumbra, "-q", "-B"], cwd=work, input="\n".join(lines) + "\n",
                         capture_output=True, text=True, check=True).stdout.split("\n")
    got = []
    for line in out:
        if line.startswith("time "):
            seconds = float(line.split()[1])
        elif line.strip():
            ml, expected, _ = (float(x) for x in line.split())
            got.append(ml if ml != 0 else expected)
    return got, seconds


def codeml_distances(work, pairs):
    got = []
    start = time.perf_counter()
    for a, b in pairs:
        with open(os.path.join(work, "pair.paml"), "w") as f:
            f.write(f"2 {len(a)}\nA  {a}\nB  {b}\n")
        with open(os.path.join(work, "codeml.ctl"), "w") as f:
            f.write("seqfile = pair.paml\noutfile = mlc\nnoisy = 0\nverbose = 0\n"
                    "runmode = -2\nseqtype = 2\naaRatefile = wag.dat\nmodel = 2\n"
                    "fix_alpha = 1\nalpha = 0\nMalpha = 0\nncatG = 1\nclock = 0\n"
                    "getSE = 0\nRateAncestor = 0\ncleandata = 0\nmethod = 0\n")
        subprocess.run(["codeml", "codeml.ctl"], cwd=work, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t = open(os.path.join(work, "2AA.t")).read().split()
        got.append(100 * float(t[-1]))
    return got, time.perf_counter() - start


def exact_distances(mlsearch, work, pairs):
    with open(os.path.join(work, "pairs"), "w") as f:
        for a, b in pairs:
            f.write(f"{a} {b}\n")
    out = subprocess.run([mlsearch, "rates", "pairs"], cwd=work, capture_output=True,
                         text=True, check=True).stdout.split()
    return [float(x) for x in out]


def spread(xs):
    return statistics.pstdev(xs) if len(xs) > 1 else 0.0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--lumbra", required=True)
    p.add_argument("--mlsearch", required=True)
    p.add_argument("--pairs", type=int, default=20)
    p.add_argument("--length", type=int, default=300)
    p.add_argument("--seed", type=int, default=1601)
    args = p.parse_args()
    lumbra = os.path.abspath(args.lumbra)
    mlsearch = os.path.abspath(args.mlsearch)
    print(f"{args.pairs} pairs of {args.length} sites a distance, WAG, no rate variation.\n")
    print("| PAM | EstimatePam bias | spread | codeml bias | spread | EstimatePam vs exact, "
          "largest | codeml vs exact, largest | codeml pairs > 1e-4 off |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|")
    worst = 0.0
    tl = tc = 0.0
    for k, pam in enumerate(DISTANCES):
        with tempfile.TemporaryDirectory() as work:
            os.symlink(PAML_DATA, os.path.join(work, "wag.dat"))
            pairs = evolve(work, pam, args.pairs, args.length, args.seed + 2 * k)
            est, s1 = lumbra_distances(lumbra, work, pairs)
            cod, s2 = codeml_distances(work, pairs)
            ex = exact_distances(mlsearch, work, pairs)
        tl += s1
        tc += s2
        rel = lambda xs: [(x - pam) / pam for x in xs]
        off = lambda xs: [abs(x - e) / e for x, e in zip(xs, ex)]
        worst = max(worst, max(off(est)))
        print(f"| {pam} | {statistics.mean(rel(est)):+.2%} | {spread(rel(est)):.2%} "
              f"| {statistics.mean(rel(cod)):+.2%} | {spread(rel(cod)):.2%} "
              f"| {max(off(est)):.1e} | {max(off(cod)):.1e} "
              f"| {sum(1 for x in off(cod) if x > 1e-4)} of {len(cod)} |")
    n = args.pairs * len(DISTANCES)
    print(f"\nEstimatePam against the exact maximum: largest relative difference {worst:.1e}.")
    print(f"Time a pair: EstimatePam {1e3 * tl / n:.2f} ms (in one lumbra run), "
          f"codeml {1e3 * tc / n:.1f} ms (a process a pair).")


if __name__ == "__main__":
    main()
