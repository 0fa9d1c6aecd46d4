#!/usr/bin/env bash
# Installs the peer of the alignment benchmark, parasail's library and headers; quiet and
# idempotent.
set -euo pipefail
. "$(dirname "$0")/../apt.sh"
[ -f /usr/include/parasail.h ] && exit 0
bench_install libparasail-dev
