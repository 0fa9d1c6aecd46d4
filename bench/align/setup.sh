#!/usr/bin/env bash
# Installs the peer of the alignment benchmark, parasail's library and headers; quiet and
# idempotent.
set -euo pipefail
[ -f /usr/include/parasail.h ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq libparasail-dev; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
