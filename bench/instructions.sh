#!/usr/bin/env bash
# Counts the instructions that lumbra executes for interp programs, with callgrind, which
# counts the same on a loaded machine as on a quiet one:
#   bench/instructions.sh [--before OLD] NEW [benchmark ...]
# Every program by default; units of 10^6, start-up included. With --before, OLD runs each
# program too and the last column is NEW / OLD.
set -euo pipefail
cd "$(dirname "$0")/.."
old=""
if [ "${1:-}" = --before ]; then
    old=$2
    shift 2
fi
new=${1:?usage: bench/instructions.sh [--before OLD] NEW [benchmark ...]}
shift
[ $# -gt 0 ] || set -- $(cd bench/interp && ls *.lum | sed 's/\.lum$//')
. bench/apt.sh
command -v valgrind >/dev/null 2>&1 || bench_install valgrind

# libhwy, opened at the first vectorised call, calibrates its timer with rdtscp, which valgrind
# cannot run; nothing measured here uses that timer, so a stand-in takes its place.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/timer.cpp" <<'EOF'
#include <cstdint>
namespace hwy::platform {
uint64_t TimerResolution() { return 1; }
} // namespace hwy::platform
EOF
c++ -shared -fPIC -O2 -o "$work/timer.so" "$work/timer.cpp"

count() {
    LD_PRELOAD="$work/timer.so" valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        "$1" -q -B <"bench/interp/$2.lum" 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
}

if [ -n "$old" ]; then
    echo "| benchmark | lumbra | before | lumbra/before |"
    echo "|---|---:|---:|---:|"
else
    echo "| benchmark | lumbra |"
    echo "|---|---:|"
fi
for b in "$@"; do
    n=$(count "$new" "$b")
    if [ -n "$old" ]; then
        o=$(count "$old" "$b")
        awk -v b="$b" -v n="$n" -v o="$o" \
            'BEGIN { printf "| %s | %.0f | %.0f | %.2f |\n", b, n / 1e6, o / 1e6, n / o }'
    else
        awk -v b="$b" -v n="$n" 'BEGIN { printf "| %s | %.0f |\n", b, n / 1e6 }'
    fi
done
