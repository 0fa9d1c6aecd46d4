#!/usr/bin/env bash
# Builds lumbra (release, in build-bench), installs the peer and the generators, and runs the
# database scan beside ssearch36: bench/dbscan/run.sh [--residues N] [--goal G] [--rounds N] ...
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh
bash bench/dbscan/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target lumbra >/dev/null
exec python3 bench/dbscan/run.py --lumbra build-bench/lumbra "$@"
