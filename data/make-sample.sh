#!/usr/bin/env bash
# Makes data/sample.db, the small protein database shipped with lumbra: the SwissProt entries of
# Debian's emboss-test package (sample data of the EMBOSS suite), converted by lumbra's own
# importer. Installs the package when it is missing (quiet, idempotent); the result is committed,
# so users and tests need nothing of this.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
src=/usr/share/EMBOSS/test/swiss
if [ ! -d "$src" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    log=$(mktemp)
    if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=900 emboss-test; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
fi
