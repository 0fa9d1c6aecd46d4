#!/usr/bin/env bash
# Installs what the Dayhoff benchmark and the model files need: Debian's paml, whose data files
# lg.dat, wag.dat and jones.dat hold the published models that lib/models is written from, and
# numpy for Debian's python3, the peer of the benchmark. Quiet and idempotent.
set -euo pipefail
. "$(dirname "$0")/../apt.sh"
need=()
[ -f /usr/lib/paml/data/dat/lg.dat ] || need+=(paml)
/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1 || need+=(python3-numpy)
bench_install ${need[@]+"${need[@]}"}
