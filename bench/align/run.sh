#!/usr/bin/env bash
# Builds the alignment benchmark (release, in build-bench) beside parasail and runs it on one
# core: bench/align/run.sh [--rounds N] [--fasta FILE] [--count N]
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh
bash bench/align/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target align_bench >/dev/null
exec taskset -c 0 build-bench/align_bench "$@"
