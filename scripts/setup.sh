#!/usr/bin/env bash
# Installs what building and testing lumbra needs on a Debian machine; quiet and idempotent.
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v bison >/dev/null 2>&1 || need+=(bison)
command -v gunzip >/dev/null 2>&1 || need+=(gzip)
command -v ccache >/dev/null 2>&1 || need+=(ccache)
command -v clang-format >/dev/null 2>&1 || need+=(clang-format)
command -v tmux >/dev/null 2>&1 || need+=(tmux)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/nettle/sha2.h ] || need+=(nettle-dev)
[ -f /usr/include/hwy/highway.h ] || need+=(libhwy-dev)
[ -f /usr/include/x86_64-linux-gnu/divsufsort64.h ] || [ -f /usr/include/divsufsort64.h ] || need+=(libdivsufsort-dev)
if [ ${#need[@]} -gt 0 ]; then
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
fi
