#!/usr/bin/env bash
# Load and index times of a synthetic database against libdivsufsort on the same text:
# bench/db/run.sh [ENTRIES [PADDING]] (default 10^6 entries). The peer, libdivsufsort-dev, is
# installed by scripts/setup.sh. Work files go to $BENCH_WORK (default /tmp/lumbra-bench-db)
# and are removed afterwards unless KEEP=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
n=${1:-1000000}
pad=${2:-0}
work=${BENCH_WORK:-/tmp/lumbra-bench-db}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-bench" -j 2 --target lumbra >/dev/null
lumbra=$root/build-bench/lumbra
mkdir -p "$work"
cd "$work"
g++ -O2 -o gendb "$root/bench/db/gendb.cpp"
g++ -O2 -o sabench "$root/bench/db/sabench.cpp" -ldivsufsort -ldivsufsort64
[ -f big.db ] || ./gendb "$n" "$pad" > big.db
# Processor seconds (user and system) of one ReadDb in a fresh process: the machine is shared,
# so wall-clock times say little. The page cache holds the text throughout.
load() {
    echo "printlevel := 0: printf('%.2f\n', time(ReadDb('big.db')));" |
        env "$@" "$lumbra" -q -B
}
cat big.db > /dev/null
size=$(stat -c %s big.db)
rm -f big.db.map big.db.tree
# The peer runs right before lumbra's first load, so that both meet the same load of the machine.
peer=$(./sabench big.db)
first=$(load)
again=$(load)
rm -f big.db.tree
sa=$(load LUMBRA_PATSORT=suffixarray)
rm -f big.db.tree
mk=$(load LUMBRA_PATSORT=multikey)
info=$(echo "printlevel := 0: d := ReadDb('big.db'): printf('%d entries, %d characters, %d residues\n', d[TotEntries], d[TotChars], d[TotAA]);" | "$lumbra" -q -B)
ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }
echo "database: $info ($size bytes)"
echo
echo "| step | seconds | ratio to libdivsufsort |"
echo "|---|---|---|"
echo "| first ReadDb: scan, .map, Pat index (chosen sort) | $first | $(ratio "$first" "$peer") |"
echo "| ReadDb again (.map and .tree reused, checked) | $again | $(ratio "$again" "$peer") |"
echo "| first ReadDb, Pat index through the suffix array | $sa | $(ratio "$sa" "$peer") |"
echo "| first ReadDb, Pat index by multikey quicksort | $mk | $(ratio "$mk" "$peer") |"
echo "| libdivsufsort alone, suffix array of the text | $peer | 1.00 |"
[ "${KEEP:-0}" = 1 ] || rm -rf "$work"
