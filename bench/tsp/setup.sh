#!/usr/bin/env bash
# Installs the peers of the tour benchmark: Debian's networkx for the system python3;
# quiet and idempotent.
set -euo pipefail
/usr/bin/python3 -c 'import networkx' >/dev/null 2>&1 && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq python3-networkx; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
