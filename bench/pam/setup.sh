#!/usr/bin/env bash
# Installs the generator and the peer of the PAM benchmark, evolver and codeml (paml); quiet and
# idempotent.
set -euo pipefail
. "$(dirname "$0")/../apt.sh"
command -v paml-evolver >/dev/null 2>&1 && command -v codeml >/dev/null 2>&1 && exit 0
bench_install paml
