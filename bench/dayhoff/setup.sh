#!/usr/bin/env bash
# Installs what the Dayhoff benchmark and the model files need: Debian's paml, whose data files
# lg.dat, wag.dat and jones.dat hold the published models that lib/models is written from, and
# numpy for Debian's python3, the peer of the benchmark. Quiet and idempotent.
set -euo pipefail
need=()
[ -f /usr/lib/paml/data/dat/lg.dat ] || need+=(paml)
/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1 || need+=(python3-numpy)
[ ${#need[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq "${need[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
