#!/usr/bin/env bash
# Text searches beside their peers, on the sample database and on a large synthetic one:
# bench/search/run.sh [ENTRIES [ROUNDS]] (default 50000 entries, about 20 MB, and 1 round on it;
# the sample is searched 40 times as often). The peers are glibc's memmem and strcasestr and a
# plain scan written in searchbench.cpp; nothing needs installing beyond the build's own
# packages (scripts/setup.sh). Work files go to $BENCH_WORK (default /tmp/lumbra-bench-search)
# and are removed afterwards unless KEEP=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
n=${1:-50000}
rounds=${2:-1}
work=${BENCH_WORK:-/tmp/lumbra-bench-search}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-bench" -j 2 --target searchbench >/dev/null
mkdir -p "$work"
g++ -O2 -o "$work/gendb" "$root/bench/db/gendb.cpp"
[ -f "$work/big.db" ] || "$work/gendb" "$n" > "$work/big.db"
for db in "$root/data/sample.db" "$work/big.db"; do
    r=$rounds
    [ "$db" = "$work/big.db" ] || r=$((rounds * 40))
    echo "$(basename "$db"): $(stat -c %s "$db") characters, $r rounds"
    echo
    "$root/build-bench/searchbench" "$db" "$r"
    echo
done
[ "${KEEP:-0}" = 1 ] || rm -rf "$work"
