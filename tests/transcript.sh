#!/bin/sh
# Runs one transcript: the script on standard input of `lumbra -q -B`, standard output
# compared with NAME.out. The exit status must be 0, or the number in NAME.status.
lumbra=$1
script=$2
out=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$out" "$work"' EXIT
# Scripts run in a scratch directory of their own, where they may leave files.
case $lumbra in /*) ;; *) lumbra=$(pwd)/$lumbra ;; esac
case $script in /*) ;; *) script=$(pwd)/$script ;; esac
base=${script%.lum}
want=0
[ -f "$base.status" ] && want=$(cat "$base.status")
(cd "$work" && "$lumbra" -q -B < "$script" > "$out")
status=$?
if ! diff -u "$base.out" "$out"; then
    echo "transcript $script: output differs" >&2
    exit 1
fi
if [ "$status" != "$want" ]; then
    echo "transcript $script: exit status $status, expected $want" >&2
    exit 1
fi
