#!/usr/bin/env bash
# Installs the generator and the peer of the PAM benchmark, evolver and codeml (paml); quiet and
# idempotent.
set -euo pipefail
command -v paml-evolver >/dev/null 2>&1 && command -v codeml >/dev/null 2>&1 && exit 0
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
