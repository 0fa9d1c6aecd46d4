#!/usr/bin/env bash
# Sets up, builds and runs every test: the formatting of the sources, a normal build, then an
# ASan+UBSan build; both builds treat compiler warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "== formatting"
unformatted=$(find src tests bench -name '*.cpp' -o -name '*.h' | sort |
    xargs clang-format --dry-run --Werror 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/\1/p' |
    uniq || true)
if [ -n "$unformatted" ]; then
    echo "not formatted with clang-format (run clang-format -i on them):"
    echo "$unformatted"
    status=1
fi

for kind in release sanitize; do
    dir=build-test-$kind
    extra=(-DLUMBRA_WERROR=ON)
    [ $kind = sanitize ] && extra+=(-DLUMBRA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
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
