#!/usr/bin/env bash
# A database above 4 GiB: entries with long descriptions push the text past 2^32 characters, so
# that entry offsets, entry numbers and the Pat index use the 64-bit layout. Loads it twice (the
# second time from its .map and .tree) and shows values beyond 32 bits as the language sees them.
# bench/db/run4g.sh [ENTRIES PADDING]; work files in $BENCH_WORK (default /tmp/lumbra-bench-4g),
# removed afterwards unless KEEP=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
n=${1:-300000}
pad=${2:-14000}
work=${BENCH_WORK:-/tmp/lumbra-bench-4g}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-bench" -j 2 --target lumbra >/dev/null
lumbra=$root/build-bench/lumbra
mkdir -p "$work"
cd "$work"
g++ -O2 -o gendb "$root/bench/db/gendb.cpp"
[ -f huge.db ] || ./gendb "$n" "$pad" > huge.db
ls -l huge.db
for round in first again; do
    echo "== $round load"
    "$lumbra" -q -B <<'LUM'
t := time(ReadDb('huge.db')):
printf('processor seconds: %.1f\n', t);
DB;
n := DB[TotEntries]:
DB[TotChars], DB[TotChars] > 2^32, n, DB[Entry, n], DB[Entry, n + 1];
s := Sequence(n):
GetOffset(s), GetEntryNumber(s), GetEntryNumber(DB[Entry, n]), GetEntryNumber(DB[Entry, n] - 1);
printf('%A\n', s[1..10]);
printf('%A\n', Entry(ID(ID(n))));
k := DB[TotAA]:
DB[Pat, 1], DB[Pat, k], DB[string, DB[Pat, 1] + 1 .. DB[Pat, 1] + 12];
LUM
done
ls -l huge.db.map huge.db.tree
[ "${KEEP:-0}" = 1 ] || rm -rf "$work"
