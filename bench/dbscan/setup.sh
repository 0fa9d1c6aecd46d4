#!/usr/bin/env bash
# Installs the peers and generators of the database-scan benchmark: ssearch36 (fasta3),
# paml-evolver (paml), hmmemit (hmmer), and GNU parallel for the README's split runs; quiet and
# idempotent.
set -euo pipefail
. "$(dirname "$0")/../apt.sh"
need=()
command -v ssearch36 >/dev/null 2>&1 || need+=(fasta3)
command -v paml-evolver >/dev/null 2>&1 || need+=(paml)
command -v hmmemit >/dev/null 2>&1 || need+=(hmmer)
parallel --version 2>/dev/null | grep -q 'GNU parallel' || need+=(parallel)
bench_install ${need[@]+"${need[@]}"}
