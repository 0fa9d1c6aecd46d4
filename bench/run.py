#!/usr/bin/env python3
"""Runs each benchmark of bench/interp in lumbra and its peers, alternately, several rounds.

Prints the median processor time (user + system, which a loaded machine disturbs less than
the wall clock) of each program and the ratio of lumbra's to each peer's. Every program
prints its result; a peer whose output differs from lumbra's is reported, since it would
not be doing the same work.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
INTERP = os.path.join(HERE, "interp")
BENCHES = ["startup", "sumloop", "fib", "listsort", "strings", "table", "sets", "calls", "kmers",
           "pairsort"]


def run(argv, stdin_path):
    """Processor and wall seconds of one run, and its standard output."""
    with open(stdin_path, "rb") as inp:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdin=inp, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = proc.communicate()
        wall = time.perf_counter() - start
    # The child is reaped by communicate(); its usage is in the children's totals.
    return out, err, proc.returncode, wall


def cpu_of(fn):
    """fn's result and the processor seconds its children used (microseconds resolution)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = fn()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return result, cpu


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lumbra", default=os.path.join(HERE, "..", "build-bench", "lumbra"))
    ap.add_argument("--before", help="a second lumbra, run right after the first in every round")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("benches", nargs="*", default=BENCHES)
    args = ap.parse_args()

    # The real interpreter, not a version manager's wrapper script that would add its own start-up.
    python = subprocess.run(["python3", "-c", "import sys; print(sys.executable)"],
                            capture_output=True, text=True, check=True).stdout.strip()
    lua = shutil.which("lua5.4")
    if lua is None:
        sys.exit("lua5.4 is missing: run bench/setup.sh")
    lumbra = os.path.abspath(args.lumbra)
    langs = [("lumbra", "lum", lambda f: [lumbra, "-q", "-B"], True),
             ("python3", "py", lambda f: [python, f], False),
             ("lua5.4", "lua", lambda f: [lua, f], False)]
    if args.before:
        before = os.path.abspath(args.before)
        langs.insert(1, ("before", "lum", lambda f: [before, "-q", "-B"], True))
    empty = {"lum": "x := 1:\n", "py": "x = 1\n", "lua": "local x = 1\n"}
    tmp = os.path.join(os.environ.get("TMPDIR", "/tmp"), "lumbra-bench-%d" % os.getpid())
    os.makedirs(tmp, exist_ok=True)

    def source(bench, ext):
        if bench == "startup":
            path = os.path.join(tmp, "startup." + ext)
            with open(path, "w") as f:
                f.write(empty[ext])
            return path
        return os.path.join(INTERP, bench + "." + ext)

    times = {(b, l[0]): [] for b in args.benches for l in langs}
    failed = False
    for rnd in range(args.rounds):
        for b in args.benches:
            outputs = {}
            # The first lumbra of a round lands on memory the kernel must first hand out, the
            # second reuses what the first gave back: with --before the two take turns.
            order = langs
            if args.before and rnd % 2 == 1:
                order = [langs[1], langs[0]] + langs[2:]
            for name, ext, argv, stdin in order:
                path = source(b, ext)
                cmd = argv(path)
                (out, err, rc, wall), cpu = cpu_of(
                    lambda: run(cmd, path if stdin else os.devnull))
                if rc != 0:
                    print("%s %s: exit status %d\n%s" % (b, name, rc, err.decode()),
                          file=sys.stderr)
                    failed = True
                times[(b, name)].append(cpu)
                outputs[name] = out
            for name in outputs:
                if outputs[name] != outputs["lumbra"] and rnd == 0:
                    print("%s: %s prints %r, lumbra %r" % (b, name, outputs[name],
                                                          outputs["lumbra"]), file=sys.stderr)
                    failed = True
        print("round %d of %d done" % (rnd + 1, args.rounds), file=sys.stderr)

    print("median processor seconds of %d rounds; ratio = lumbra / peer" % args.rounds)
    print()
    print("| benchmark | lumbra | python3 | lua5.4 | lumbra/python3 | lumbra/lua5.4 |")
    print("|---|---:|---:|---:|---:|---:|")
    for b in args.benches:
        m = {l[0]: statistics.median(times[(b, l[0])]) for l in langs}
        for who, label in [("lumbra", b), ("before", b + " (before)")]:
            if who not in m:
                continue

            def ratio(peer):
                return "%.2f" % (m[who] / m[peer]) if m[peer] > 0 else "-"
            print("| %s | %.3f | %.3f | %.3f | %s | %s |" % (
                label, m[who], m["python3"], m["lua5.4"], ratio("python3"), ratio("lua5.4")))
    shutil.rmtree(tmp, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
