#!/usr/bin/env bash
# Builds lumbra (release, in build-bench), installs the peers and runs every benchmark against
# them: bench/run.sh [--rounds N] [--lumbra PATH] [--before PATH] [benchmark ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash bench/setup.sh
if ! printf '%s\n' "$@" | grep -q -- '^--lumbra'; then
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build-bench -j 2 --target lumbra >/dev/null
fi
exec python3 bench/run.py "$@"
