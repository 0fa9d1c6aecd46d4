#!/usr/bin/env bash
# Builds lumbra (release, in build-bench) and the bound program, installs networkx and runs
# the tour benchmark: bench/tsp/run.sh [--lumbra PATH] [--sizes 100,500] [--limit SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh
bash bench/tsp/setup.sh
mkdir -p build-bench
if ! printf '%s\n' "$@" | grep -q -- '^--lumbra'; then
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build-bench -j 2 --target lumbra >/dev/null
fi
g++ -O2 -o build-bench/heldkarp bench/tsp/heldkarp.cpp
# Debian's networkx belongs to the system interpreter.
exec /usr/bin/python3 bench/tsp/run.py "$@"
