#!/usr/bin/env bash
# Sets up, builds and starts lumbra with its library; arguments go to lumbra.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
exec build/lumbra "$@"
