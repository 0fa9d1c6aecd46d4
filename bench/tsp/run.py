#!/usr/bin/env python3
"""Tour lengths and times of lumbra's ComputeCubicTSP/ComputeQuarticTSP against the Held-Karp
bound and networkx's Christofides and simulated annealing, on the same random instances.

Each instance is n points drawn uniformly from a 1000 x 1000 square (seed n), with Euclidean
distances. Times are processor seconds of the tour computation alone: lumbra's built-in
time() around the call, time.process_time() around the networkx call; building the distance
matrix or the graph is not counted. A networkx run that exceeds the processor-time limit is
stopped and shown as such.
"""
import argparse
import json
import math
import os
import random
import resource
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
# Iterations of the longer lumbra run, chosen so that it takes seconds, not minutes.
ITERATIONS = {100: 100, 500: 30, 1000: 15, 2500: 6}


def points(n):
    r = random.Random(n)
    return [(r.random() * 1000, r.random() * 1000) for _ in range(n)]


def length(pts, tour):
    n = len(tour)
    assert sorted(tour) == list(range(n)), "not a tour"
    return sum(math.dist(pts[tour[k]], pts[tour[(k + 1) % n]]) for k in range(n))


def heldkarp(exe, pts):
    text = "%d\n" % len(pts) + "".join("%r %r\n" % p for p in pts)
    out = subprocess.run([exe], input=text, capture_output=True, text=True, check=True)
    return float(out.stdout.split()[0])


def lumbra_runs(exe, pts, iterations):
    """Runs of the built-ins in one lumbra process: name -> (tour from 0, seconds)."""
    n = len(pts)
    # The last run starts from the quartic tour and adds random starts, as the help advises.
    runs = [("cubic", "ComputeCubicTSP(D)"), ("quartic", "ComputeQuarticTSP(D)"),
            ("quartic+%d" % iterations, "ComputeQuarticTSP(D, %d, ComputeQuarticTSP(D))" % iterations)]
    lines = ["X := [%s]:" % ",".join(repr(p[0]) for p in pts),
             "Y := [%s]:" % ",".join(repr(p[1]) for p in pts),
             "D := [seq([seq(sqrt((X[i]-X[j])^2 + (Y[i]-Y[j])^2), j = 1..%d)], i = 1..%d)]:"
             % (n, n),
             "SetRand(1):"]
    for name, call in runs:
        lines.append("t0 := time(): T := %s: t1 := time():" % call)
        lines.append("printf('%s %%.3f', t1 - t0); for k in T do printf(' %%d', k) od; "
                     "printf('\\n');" % name)
    out = subprocess.run([exe, "-q", "-B"], input="\n".join(lines) + "\n", capture_output=True,
                         text=True, check=True)
    result = {}
    for line in out.stdout.splitlines():
        f = line.split()
        result[f[0]] = ([int(k) - 1 for k in f[2:]], float(f[1]))
    return [(name, result[name]) for name, _ in runs]


def peer(method, n):
    """In a child process: one networkx heuristic on instance n, as JSON."""
    import time
    import networkx as nx
    from networkx.algorithms import approximation as ap
    pts = points(n)
    G = nx.Graph()
    for i in range(n):
        for j in range(i + 1, n):
            G.add_edge(i, j, weight=math.dist(pts[i], pts[j]))
    t0 = time.process_time()
    if method == "christofides":
        cycle = ap.christofides(G)
    else:
        cycle = ap.simulated_annealing_tsp(G, "greedy", seed=1)
    t1 = time.process_time()
    print(json.dumps({"tour": cycle[:-1], "secs": t1 - t0}))


def run_peer(method, n, limit):
    def cap():
        resource.setrlimit(resource.RLIMIT_CPU, (limit, limit))
    p = subprocess.run([sys.executable, __file__, "--peer", method, "--n", str(n)],
                       capture_output=True, text=True, preexec_fn=cap)
    if p.returncode != 0:
        return None
    r = json.loads(p.stdout)
    return r["tour"], r["secs"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lumbra", default=os.path.join(ROOT, "build-bench", "lumbra"))
    ap.add_argument("--heldkarp", default=os.path.join(ROOT, "build-bench", "heldkarp"))
    ap.add_argument("--sizes", default="100,500,1000,2500")
    ap.add_argument("--limit", type=int, default=300, help="processor seconds per networkx run")
    ap.add_argument("--peer")
    ap.add_argument("--n", type=int)
    args = ap.parse_args()
    if args.peer:
        return peer(args.peer, args.n)

    print("| n | Held-Karp bound | method | length | over bound | seconds |")
    print("|---:|---:|---|---:|---:|---:|")
    for n in [int(s) for s in args.sizes.split(",")]:
        pts = points(n)
        bound = heldkarp(args.heldkarp, pts)
        rows = [("lumbra " + name, run) for name, run in
                lumbra_runs(args.lumbra, pts, ITERATIONS.get(n, 10))]
        for method, key in (("Christofides", "christofides"), ("simulated annealing", "annealing")):
            rows.append(("networkx " + method, run_peer(key, n, args.limit)))
        for i, (name, run) in enumerate(rows):
            head = "| %d | %.1f " % (n, bound) if i == 0 else "| | "
            if run is None:
                print(head + "| %s | — | — | > %d |" % (name, args.limit))
            else:
                L = length(pts, run[0])
                print(head + "| %s | %.1f | %.2f %% | %.2f |" % (name, L, 100 * (L / bound - 1),
                                                               run[1]))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
