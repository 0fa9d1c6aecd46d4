#!/usr/bin/env bash
# Mutation score of the test suite: applies each deliberate fault of scripts/mutations.txt in
# turn to a copy of the tree, builds it, runs the tests and tells whether some test failed.
#   scripts/mutate.sh [-a] [-l] [-r REV] [-o TABLE] [NAME...]
# -a runs every test; by default the terminal test (editor) and the long random one
# (fuzz-mutate) are left out. The tests of a mutant stop at the first failure unless -l asks
# for the list of all failing ones. -r measures the tree of a git revision (to compare a branch's
# tests with those it started from) instead of the work tree. NAMEs pick mutations from the
# list. The table (name, caught or missed, failing tests) goes to TABLE and standard output.
# MUTATE_DIR (default /tmp/lumbra-mutate-USER) holds the copy and its build; MUTATE_TESTS, a
# ctest regular expression, runs only the tests it matches (a quicker look at one share).
set -uo pipefail
cd "$(dirname "$0")/.."
exclude='^(editor|fuzz-mutate)$'
table=/dev/null
stop=--stop-on-failure
rev=
while getopts alo:r: opt; do
    case $opt in
    a) exclude='^$' ;;
    l) stop= ;;
    o) table=$OPTARG ;;
    r) rev=$OPTARG ;;
    *) sed -n '2,11s/^# \{0,1\}//p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
work=${MUTATE_DIR:-/tmp/lumbra-mutate-$(id -un)}
jobs=${MUTATE_JOBS:-2}
timeout=${MUTATE_TIMEOUT:-150}
only=${MUTATE_TESTS:-.}

# The copy holds what git sees, uncommitted changes included, or the tree of a revision.
rm -rf "$work/tree"
mkdir -p "$work/tree"
if [ -n "$rev" ]; then
    git archive "$rev" | tar -xf - -C "$work/tree"
else
    git ls-files -co --exclude-standard -z | tar --null --ignore-failed-read -T - -cf - 2>/dev/null |
        tar -xf - -C "$work/tree"
fi
# Fresh times: no object of an earlier mutant may pass for up to date (ccache keeps this cheap).
find "$work/tree" -type f -exec touch {} +
src=$work/tree
build=$work/build
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1

runtests() { # prints the failing tests, if any; $1 may stop at the first failure
    (cd "$build" && ctest -j "$jobs" --timeout "$timeout" -R "$only" -E "$exclude" ${1:-} 2>&1) |
        sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*/\1/p' | tr '\n' ' '
}

echo "== unmutated tree"
cmake --build "$build" -j "$jobs" >/dev/null || { echo "the tree does not build"; exit 1; }
failing=$(runtests)
[ -z "$failing" ] || { echo "tests fail before any mutation: $failing"; exit 1; }

printf '%-18s %-8s %s\n' mutation result "failing tests" | tee "$table"
caught=0
total=0
while IFS='|' read -r name file prog what; do
    name=$(echo $name)
    file=$(echo $file)
    prog=$(echo "$prog" | sed 's/^ *//;s/ *$//')
    case $name in '' | '#'*) continue ;; esac
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
    cp "$src/$file" "$work/saved"
    sed -i -E "$prog" "$src/$file"
    if cmp -s "$src/$file" "$work/saved"; then
        result=absent
        failing="(the program changed nothing)"
    elif ! cmake --build "$build" -j "$jobs" >/dev/null 2>&1; then
        result=nobuild
        failing=""
    else
        failing=$(runtests $stop)
        total=$((total + 1))
        if [ -n "$failing" ]; then
            result=caught
            caught=$((caught + 1))
        else
            result=MISSED
        fi
    fi
    cp "$work/saved" "$src/$file"
    printf '%-18s %-8s %.70s\n' "$name" "$result" "$failing" | tee -a "$table"
done <scripts/mutations.txt
cmake --build "$build" -j "$jobs" >/dev/null
echo "caught $caught of $total" | tee -a "$table"
