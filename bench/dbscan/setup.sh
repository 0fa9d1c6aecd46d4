#!/usr/bin/env bash
# Installs the peers and generators of the database-scan benchmark: ssearch36 (fasta3),
# paml-evolver (paml), hmmemit (hmmer), and GNU parallel for the README's split runs; quiet and
# idempotent.
set -euo pipefail
need=()
command -v ssearch36 >/dev/null 2>&1 || need+=(fasta3)
command -v paml-evolver >/dev/null 2>&1 || need+=(paml)
command -v hmmemit >/dev/null 2>&1 || need+=(hmmer)
parallel --version 2>/dev/null | grep -q 'GNU parallel' || need+=(parallel)
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
