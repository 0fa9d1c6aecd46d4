#!/usr/bin/env bash
# Times CreateDayMatrices() in a fresh lumbra session against the same work in Python with
# numpy: bench/dayhoff/run.sh [--rounds N] [--lumbra PATH]
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh
bash bench/dayhoff/setup.sh
if ! printf '%s\n' "$@" | grep -q -- '^--lumbra'; then
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build-bench -j 2 --target lumbra >/dev/null
fi
exec python3 bench/dayhoff/run.py "$@"
