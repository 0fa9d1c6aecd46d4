"""The database scan: AlignOneAll beside ssearch36 (fasta3) on 1 and 2 threads, on a protein
database made here: families evolved by evolver (paml) under WAG on random trees, domains
emitted by hmmemit (hmmer) from profiles built on some of those families, inside random
flanks, and random background sequences. Reports cells per second and the overlap of the hits
at matched score thresholds (ssearch36's k best entries of a query beside lumbra's k entries
at the goal). Prints markdown tables."""
import argparse
import os
import random
import re
import resource
import subprocess
import tempfile
import time

AA = "ARNDCQEGHILKMFPSTWYV"
# Background frequencies of the residues above, roughly those of natural proteins.
FREQ = [8.3, 5.5, 4.1, 5.5, 1.4, 3.9, 6.7, 7.1, 2.3, 5.9,
        9.7, 5.8, 2.4, 3.9, 4.7, 6.6, 5.4, 1.1, 2.9, 6.9]
PAML_DATA = "/usr/lib/paml/data/dat/wag.dat"


def random_tree(rng, names, branch):
    """A random binary tree in Newick, branches of up to branch substitutions a site."""
    nodes = [f"{n}:{rng.uniform(0.1, 1) * branch:.4f}" for n in names]
    while len(nodes) > 2:
        a = nodes.pop(rng.randrange(len(nodes)))
        b = nodes.pop(rng.randrange(len(nodes)))
        nodes.append(f"({a},{b}):{rng.uniform(0.1, 1) * branch:.4f}")
    return f"({nodes[0]},{nodes[1]});"


def evolve_family(work, rng, name, members, length, branch):
    names = [f"{name}m{k:02d}" for k in range(members)]
    with open(os.path.join(work, "MCaa.dat"), "w") as f:
        f.write(f"0\n{rng.randrange(1, 1 << 30) | 1}\n{members} {length} 1\n-1\n")
        f.write(random_tree(rng, names, branch) + "\n0 0\n2 wag.dat\n")
        f.write(("0.05 " * 10 + "\n") * 2 + "\n A R N D C Q E G H I\n L K M F P S T W Y V\n")
    subprocess.run(["paml-evolver", "7", "MCaa.dat"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    text = open(os.path.join(work, "mc.paml")).read()
    return [(n, s.replace(" ", "")) for n, s in re.findall(r"^(\S+m\d\d) +(.*)$", text, re.M)]


def background(rng, n):
    return "".join(rng.choices(AA, weights=FREQ, k=n))


def emit_domains(work, rng, name, family, count):
    """count domains emitted from a profile of the family, each inside random flanks."""
    with open(os.path.join(work, "fam.afa"), "w") as f:
        for n, s in family:
            f.write(f">{n}\n{s}\n")
    subprocess.run(["hmmbuild", "--amino", "fam.hmm", "fam.afa"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    out = subprocess.run(["hmmemit", "-N", str(count), "--seed", str(rng.randrange(1, 1 << 30)),
                          "fam.hmm"], cwd=work, check=True, capture_output=True,
                         text=True).stdout
    seqs = [re.sub(r"\s", "", s.split("\n", 1)[1]) for s in out.split(">")[1:]]
    return [(f"{name}d{k:02d}", background(rng, rng.randrange(30, 150)) + s +
             background(rng, rng.randrange(30, 150)), s) for k, s in enumerate(seqs)]


def make_db(work, args):
    rng = random.Random(args.seed)
    os.symlink(PAML_DATA, os.path.join(work, "wag.dat"))
    entries, queries = [], []
    for k in range(args.families):
        fam = evolve_family(work, rng, f"F{k:02d}", args.members, rng.randrange(200, 400),
                            args.branch)
        entries += fam
        if k < args.queries - args.domain_queries:
            queries.append(fam[0])
        if k < args.profiles:
            doms = emit_domains(work, rng, f"F{k:02d}", fam, args.domains)
            entries += [(n, s) for n, s, _ in doms]
            if k < args.domain_queries:
                queries.append((doms[0][0] + "core", doms[0][2]))
    while sum(len(s) for _, s in entries) < args.residues:
        entries.append((f"R{len(entries):05d}", background(rng, rng.randrange(100, 600))))
    rng.shuffle(entries)
    with open(os.path.join(work, "db.fa"), "w") as f:
        for n, s in entries:
            f.write(f">{n}\n{s}\n")
    with open(os.path.join(work, "scan.db"), "w") as f:
        for n, s in entries:
            f.write(f"<E><ID>{n}</ID><SEQ>{s}</SEQ></E>\n")
    with open(os.path.join(work, "queries.fa"), "w") as f:
        for n, s in queries:
            f.write(f">{n}\n{s}\n")
    return entries, queries


def lumbra_scan(lumbra, work, queries, goal, threads, rounds):
    """The hits (entry numbers) of every query, and the best wall and processor times of the
    whole query set (processor time of all threads)."""
    qs = ", ".join(f"'{s}'" for _, s in queries)
    script = f"""ReadDb('scan.db'): CreateDayMatrices(): Set(threads = {threads}):
Q := [{qs}]:
best := 1e9: cpu := 1e9:
to {rounds} do t := walltime(): c := time(): R := [seq(AlignOneAll(q, DB, DM, {goal}), q = Q)]:
    best := min(best, walltime() - t): cpu := min(cpu, time() - c) od:
printf('time %.6f %.6f\\n', best, cpu):
for r in R do for m in r do printf('%d ', GetEntryNumber(m[Offset1])) od; printf('\\n') od:
"""
    out = subprocess.run([lumbra, "-q", "-B"], cwd=work, input=script, capture_output=True,
                         text=True, check=True).stdout.strip().split("\n")
    wall, cpu = (float(x) for x in out[0].split()[1:])
    return [set(int(x) for x in line.split()) for line in out[1:]], wall, cpu


def ssearch_scan(work, threads, rounds):
    """Every query's best 1000 entries (by name) with their Smith-Waterman scores, in the order
    of the queries, and the best wall and processor times of the set (one run over the
    query file)."""
    best, cpu, hits = 1e9, 1e9, []
    for _ in range(rounds):
        start = time.perf_counter()
        c = resource.getrusage(resource.RUSAGE_CHILDREN)
        out = subprocess.run(["ssearch36", "-q", "-d", "0", "-b", "1000", "-E", "1e9",
                              "-T", str(threads), "queries.fa", "db.fa"],
                             cwd=work, capture_output=True, text=True, check=True).stdout
        best = min(best, time.perf_counter() - start)
        r = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = min(cpu, r.ru_utime + r.ru_stime - c.ru_utime - c.ru_stime)
        hits, listing = [], False
        for line in out.split("\n"):
            if line.startswith("The best scores are:"):
                hits.append({})
                listing = True
            elif listing and not line.strip():
                listing = False
            elif listing:
                m = re.match(r"(\S+).*?\(\s*\d+\)\s+(\d+)", line)
                if m:
                    hits[-1][m.group(1)] = int(m.group(2))
    return hits, best, cpu


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--lumbra", required=True)
    p.add_argument("--residues", type=int, default=1000000)
    p.add_argument("--families", type=int, default=16)
    p.add_argument("--members", type=int, default=24)
    p.add_argument("--branch", type=float, default=0.3)
    p.add_argument("--profiles", type=int, default=3)
    p.add_argument("--domains", type=int, default=40)
    p.add_argument("--queries", type=int, default=8)
    p.add_argument("--domain-queries", type=int, default=2)
    p.add_argument("--goal", type=float, default=80)
    p.add_argument("--threads", type=int, default=os.cpu_count() or 2)
    p.add_argument("--rounds", type=int, default=7)
    p.add_argument("--seed", type=int, default=16)
    args = p.parse_args()
    lumbra = os.path.abspath(args.lumbra)
    with tempfile.TemporaryDirectory() as work:
        entries, queries = make_db(work, args)
        subprocess.run([lumbra, "-q", "-B"], cwd=work, input="ReadDb('scan.db'):\n",
                       check=True, capture_output=True, text=True)
        names = [n for n, _ in entries]
        residues = sum(len(s) for _, s in entries)
        cells = sum(len(s) for _, s in queries) * residues
        print(f"Database: {len(entries)} entries, {residues} residues; {len(queries)} queries "
              f"of {sum(len(s) for _, s in queries)} residues; {cells / 1e9:.2f} G cells a "
              f"run; goal {args.goal:g} (lumbra, DM of PAM 250); ssearch36 with its defaults "
              "(BLOSUM50, -10/-2).\n")
        rows, lhits, shits = [], None, None
        for t in sorted({1, args.threads}):
            shits, st, sc = ssearch_scan(work, t, args.rounds)
            lh, lt, lc = lumbra_scan(lumbra, work, queries, args.goal, t, args.rounds)
            lhits = [{names[e - 1] for e in h} for h in lh]
            rows.append((t, lt, lc, st, sc))
        print(f"Load average during the runs: {os.getloadavg()[0]:.1f} on {os.cpu_count()} "
              "cores; a processor second is a second that the run had a core.\n")
        print("| threads | lumbra wall s | processor s | G cells a wall s | G cells a processor s "
              "| ssearch36 wall s | processor s | G cells a wall s | G cells a processor s |")
        print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for t, lt, lc, st, sc in rows:
            print(f"| {t} | {lt:.2f} | {lc:.2f} | {cells / lt / 1e9:.2f} | {cells / lc / 1e9:.2f} "
                  f"| {st:.2f} | {sc:.2f} | {cells / st / 1e9:.2f} | {cells / sc / 1e9:.2f} |")
        print(f"\nPer core (1 thread, processor time): lumbra {rows[0][3 + 1] / rows[0][2]:.2f}x "
              "as fast as ssearch36.")
        if len(rows) > 1:
            print(f"From 1 to {rows[-1][0]} threads, wall time: lumbra {rows[0][1] / rows[-1][1]:.2f}x, "
                  f"ssearch36 {rows[0][3] / rows[-1][3]:.2f}x.")
        print("\n| query | lumbra hits | common with ssearch36's best as many | "
              "family members found, lumbra | ssearch36 |")
        print("|---|---:|---:|---:|---:|")
        total = common = 0
        for (qn, _), lh, sh in zip(queries, lhits, shits):
            k = len(lh)
            top = set(sorted(sh, key=lambda n: -sh[n])[:k])
            fam = qn[:3]
            members = sum(1 for n in names if n.startswith(fam))  # evolved members and domains
            lf = sum(1 for n in lh if n.startswith(fam))
            sf = sum(1 for n in top if n.startswith(fam))
            total += k
            common += len(lh & top)
            print(f"| {qn} | {k} | {len(lh & top)} | {lf} of {members} | {sf} of {members} |")
        print(f"\nOverlap of the hits at matched thresholds: {common} of {total} "
              f"({common / max(total, 1):.1%}).")


if __name__ == "__main__":
    main()
