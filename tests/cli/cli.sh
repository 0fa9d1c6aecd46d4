#!/bin/sh
# The command line: options, their messages and exit statuses, the banner and the way out.
lumbra=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }

# check NAME STATUS EXPECTED-FIRST-LINE -- ARGS... (standard input is empty)
check() {
    name=$1 want=$2 first=$3
    shift 4
    "$lumbra" "$@" < /dev/null > "$tmp/out" 2> "$tmp/err"
    status=$?
    got=$(head -n 1 "$tmp/out")
    if [ "$status" != "$want" ]; then
        fail "$name: exit status $status, expected $want"
    elif [ "$got" != "$first" ]; then
        fail "$name: first line [$got], expected [$first]"
    fi
}

usage="The program terminated incorrectly: invalid command line option (lumbra [-q] [-s] [-B] [-E] [-U] [-l lib_dir] [-S init_file] [-i input_file] [-o output_file])"
check missing-l 1 "The program terminated incorrectly: missing -l argument (library directory)" -- -l
check missing-S 1 "The program terminated incorrectly: missing -S argument (lumbrait file)" -- -q -S
check missing-i 1 "The program terminated incorrectly: missing -i argument (input file)" -- -q -i
check missing-o 1 "The program terminated incorrectly: missing -o argument (output file)" -- -q -o
check combined 1 "$usage" -- -qs
check unknown 1 "$usage" -- -x
check word 1 "$usage" -- quiet
check bad-i 1 "file $tmp/none The program terminated incorrectly: is not a valid file for option -i" -- -q -i "$tmp/none"
check bad-o 1 "file $tmp/no/such The program terminated incorrectly: is not valid for option -o, it fails to open" -- -q -o "$tmp/no/such"
check bad-S 1 "The program terminated incorrectly: cannot open lumbrait file" -- -q -S "$tmp/none"
check bad-l 1 "The program terminated incorrectly: cannot open lumbrait file" -- -q -l "$tmp"

# Without -q: the banner first, the processor time last.
"$lumbra" -B < /dev/null > "$tmp/out" 2>&1 || fail "banner: status $?"
case "$(cat "$tmp/out")" in
"Lumbra: Sequence Searching Facility
Version 4.0, "[A-Z][a-z][a-z]" "*[0-9][0-9][0-9][0-9]"
"*[0-9].[0-9][0-9]" secs of cpu used") ;;
*) fail "banner: [$(cat "$tmp/out")]" ;;
esac
[ "$(wc -l < "$tmp/out")" = 3 ] || fail "banner: $(wc -l < "$tmp/out") lines"

# -o replaces standard output (-i standard input: server-works below).
"$lumbra" -o "$tmp/o.txt" -B < /dev/null > "$tmp/out"
[ -s "$tmp/out" ] && fail "-o: standard output not replaced"
grep -q "Lumbra: Sequence Searching Facility" "$tmp/o.txt" || fail "-o: no banner in file"
[ "$(stat -c %a "$tmp/o.txt")" = 644 ] || fail "-o: mode $(stat -c %a "$tmp/o.txt")"

# The start-up file comes from the library directory, or from -S.
mkdir "$tmp/lib"
: > "$tmp/lib/lumbrait"
"$lumbra" -q -B -l "$tmp/lib" < /dev/null || fail "-l: status"
"$lumbra" -q -B -S "$tmp/lib/lumbrait" < /dev/null || fail "-S: status"
gzip -c "$tmp/lib/lumbrait" > "$tmp/init.gz"
"$lumbra" -q -B -S "$tmp/init.gz" < /dev/null || fail "-S .gz: status"

# -s still runs what touches nothing of the server's (its refusals: tests/ipc/ipc.py).
printf 'lprint(sort([b, a]));\n' > "$tmp/server.lum"
check server-works 0 "[a, b]" -- -q -s -B -i "$tmp/server.lum"

if [ $fails = 0 ]; then echo "cli: all checks passed"; exit 0; fi
exit 1
