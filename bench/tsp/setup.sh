#!/usr/bin/env bash
# Installs the peers of the tour benchmark: Debian's networkx for the system python3;
# quiet and idempotent.
set -euo pipefail
. "$(dirname "$0")/../apt.sh"
/usr/bin/python3 -c 'import networkx' >/dev/null 2>&1 && exit 0
bench_install python3-networkx
