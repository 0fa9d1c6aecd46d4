#!/usr/bin/env bash
# Builds lumbra (release, in build-bench) and the exact search, installs paml and compares
# EstimatePam with codeml and the exact likelihood maximum on pairs evolved at known distances:
# bench/pam/run.sh [--pairs N] [--length L] [--seed S]
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh
bash bench/pam/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target lumbra >/dev/null
g++ -O2 -o build-bench/mlsearch bench/pam/mlsearch.cpp
exec python3 bench/pam/run.py --lumbra build-bench/lumbra --mlsearch build-bench/mlsearch "$@"
