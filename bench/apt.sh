#!/usr/bin/env bash
# Sourced by the benchmarks' set-up scripts: bench_install PACKAGE... installs the Debian
# packages named (none: nothing), quietly, showing apt's output only when it fails.
bench_install() {
    [ $# -eq 0 ] && return 0
    local sudo="" log
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    log=$(mktemp)
    if ! { DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@"; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}
