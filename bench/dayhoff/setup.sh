#!/usr/bin/env bash
# Installs Debian's paml, whose data files lg.dat, wag.dat and jones.dat hold the published
# models that lib/models is written from; quiet and idempotent.
set -euo pipefail
[ -f /usr/lib/paml/data/dat/lg.dat ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq paml; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
