#!/usr/bin/env bash
# Installs what the benchmarks need besides lumbra itself: Lua 5.4 (python3 is assumed);
# quiet and idempotent.
set -euo pipefail
. "$(dirname "$0")/apt.sh"
command -v lua5.4 >/dev/null 2>&1 && exit 0
bench_install lua5.4
