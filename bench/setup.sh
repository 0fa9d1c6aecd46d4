#!/usr/bin/env bash
# Installs what the benchmarks need besides lumbra itself: Lua 5.4 (python3 is assumed);
# quiet and idempotent.
set -euo pipefail
command -v lua5.4 >/dev/null 2>&1 && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq lua5.4; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
