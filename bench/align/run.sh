#!/usr/bin/env bash
# Builds the alignment benchmark (release, in build-bench) beside parasail and runs it on one
# core on the sequences of data/sample.db: bench/align/run.sh [--rounds N] [--db FILE] [--count N]
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh
bash bench/align/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target align_bench >/dev/null
db=()
printf '%s\n' "$@" | grep -q -- '^--db' || db=(--db data/sample.db)
exec taskset -c 0 build-bench/align_bench "${db[@]}" "$@"
