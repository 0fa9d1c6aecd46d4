#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build, then an ASan+UBSan build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
status=0
for kind in release sanitize; do
    dir=build-test-$kind
    extra=()
    [ $kind = sanitize ] && extra=(-DLUMBRA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    echo "== $kind build"
    cmake -S . -B "$dir" "${extra[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs" >/dev/null
    echo "== $kind tests"
    (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 600) || status=1
    if [ $kind = release ]; then
        echo "== transcripts with a collection after every statement"
        (cd "$dir" && LUMBRA_GCSTRESS=1 ctest -j "$jobs" -R '^transcript/' --output-on-failure \
            --timeout 600) || status=1
    fi
done
if [ $status = 0 ]; then echo "all test runs passed"; else echo "some tests failed"; fi
exit $status
