#!/bin/sh
# Runs one transcript: the script on standard input of `lumbra -q -B`, standard output
# compared with NAME.out. The exit status must be 0, or the number in NAME.status.
lumbra=$1
script=$2
base=${script%.lum}
want=0
[ -f "$base.status" ] && want=$(cat "$base.status")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$lumbra" -q -B < "$script" > "$out"
status=$?
if ! diff -u "$base.out" "$out"; then
    echo "transcript $script: output differs" >&2
    exit 1
fi
if [ "$status" != "$want" ]; then
    echo "transcript $script: exit status $status, expected $want" >&2
    exit 1
fi
