#!/usr/bin/env python3
"""Runs create.lum in lumbra and peer.py in Debian's python3 with numpy, alternately.

Prints the median processor time (user + system) of each fresh process, of an empty lumbra
session, and the ratio of lumbra's to the peer's; both print the PAM 250 score of W, W of
the LG model, which must agree.
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def cpu_run(argv, stdin_path=None):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(stdin_path or os.devnull, "rb") as inp:
        out = subprocess.run(argv, stdin=inp, capture_output=True, check=True).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return out.decode().strip(), cpu


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lumbra", default=os.path.join(HERE, "..", "..", "build-bench", "lumbra"))
    ap.add_argument("--rounds", type=int, default=7)
    args = ap.parse_args()
    lumbra = [os.path.abspath(args.lumbra), "-q", "-B"]
    empty = os.path.join(HERE, "empty.lum")
    with open(empty, "w") as f:
        f.write("x := 1:\n")
    runs = {"lumbra": [], "startup": [], "python3+numpy": []}
    results = set()
    try:
        for _ in range(args.rounds):
            out, t = cpu_run(lumbra, os.path.join(HERE, "create.lum"))
            runs["lumbra"].append(t)
            results.add(("lumbra", out))
            runs["startup"].append(cpu_run(lumbra, empty)[1])
            out, t = cpu_run(["/usr/bin/python3", os.path.join(HERE, "peer.py")])
            runs["python3+numpy"].append(t)
            results.add(("python3+numpy", out))
    finally:
        os.remove(empty)
    med = {k: statistics.median(v) for k, v in runs.items()}
    print("CreateDayMatrices() for PAM 1..1000 (LG), median processor seconds of %d rounds"
          % args.rounds)
    print("| program | seconds |")
    print("|---|---:|")
    print("| lumbra, fresh session | %.3f |" % med["lumbra"])
    print("| lumbra, empty session | %.3f |" % med["startup"])
    print("| python3 + numpy, same work | %.3f |" % med["python3+numpy"])
    print("ratio lumbra / python3+numpy: %.2f" % (med["lumbra"] / med["python3+numpy"]))
    scores = {out for _, out in results}
    print("DM[Sim, W, W]:", ", ".join(sorted("%s %s" % r for r in results)))
    if len(scores) != 1:
        sys.exit("the programs disagree")


if __name__ == "__main__":
    main()
