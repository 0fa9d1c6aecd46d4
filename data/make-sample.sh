#!/usr/bin/env bash
# Makes data/sample.db, the small protein database shipped with lumbra: the SwissProt entries of
# Debian's emboss-test package (sample data of the EMBOSS suite), converted by lumbra's own
# importer. Installs the package when it is missing (quiet, idempotent); the result is committed,
# so users and tests need nothing of this.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
src=/usr/share/EMBOSS/test/swiss
if [ ! -d "$src" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    log=$(mktemp)
    if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=900 emboss-test; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
fi
# Entries whose sequences hold letters outside the one-letter code table (B, Z, J, O for
# ambiguous or rare residues, U for selenocysteine) are left out: a database refuses them.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk '
    { entry = entry $0 "\n" }
    /^SQ   / { inseq = 1; next }
    inseq && /^     / { if ($0 ~ /[BZJOUbzjou]/) bad = 1 }
    /^\/\// { if (!bad) printf "%s", entry; entry = ""; inseq = 0; bad = 0 }
' "$src/seq.dat" > "$work/sample.dat"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j 2 --target lumbra >/dev/null
(cd "$work" && echo "printlevel := 0: ReadUniProt('sample.dat'):" | "$root/build/lumbra" -q -B)
cp "$work/sample.dat.db" "$root/data/sample.db"
echo "data/sample.db: $(wc -l < "$root/data/sample.db") entries, $(wc -c < "$root/data/sample.db") bytes"
