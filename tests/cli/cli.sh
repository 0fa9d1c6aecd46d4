#!/bin/sh
# The command line: options, their messages and exit statuses, the banner and the way out.
lumbra=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0

# check NAME STATUS EXPECTED-FIRST-LINE -- ARGS... (standard input is empty)
check() {
    name=$1 want=$2 first=$3
    shift 4
    "$lumbra" "$@" < /dev/null > "$tmp/out" 2> "$tmp/err"
    status=$?
    got=$(head -n 1 "$tmp/out")
    if [ "$status" != "$want" ]; then
        echo "FAIL $name: exit status $status, expected $want"; fails=$((fails + 1))
    elif [ "$got" != "$first" ]; then
        echo "FAIL $name: first line [$got], expected [$first]"; fails=$((fails + 1))
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
check quiet-batch 0 "" -- -q -B

# Without -q: the banner first, the processor time last.
"$lumbra" -B < /dev/null > "$tmp/out" 2>&1
status=$?
line1=$(sed -n 1p "$tmp/out")
line2=$(sed -n 2p "$tmp/out")
last=$(tail -n 1 "$tmp/out")
[ "$status" = 0 ] || { echo "FAIL banner: status $status"; fails=$((fails + 1)); }
[ "$line1" = "Lumbra: Sequence Searching Facility" ] || { echo "FAIL banner: [$line1]"; fails=$((fails + 1)); }
case "$line2" in
"Version 4.0, "[A-Z][a-z][a-z]" "*[0-9][0-9][0-9][0-9]) ;;
*) echo "FAIL banner version: [$line2]"; fails=$((fails + 1)) ;;
esac
case "$last" in
*[0-9].[0-9][0-9]" secs of cpu used") ;;
*) echo "FAIL cpu line: [$last]"; fails=$((fails + 1)) ;;
esac
[ "$(wc -l < "$tmp/out")" = 3 ] || { echo "FAIL banner: $(wc -l < "$tmp/out") lines"; fails=$((fails + 1)); }

# -o replaces standard output; -i replaces standard input.
"$lumbra" -o "$tmp/o.txt" -B < /dev/null > "$tmp/out"
[ -s "$tmp/out" ] && { echo "FAIL -o: standard output not replaced"; fails=$((fails + 1)); }
grep -q "Lumbra: Sequence Searching Facility" "$tmp/o.txt" || { echo "FAIL -o: no banner in file"; fails=$((fails + 1)); }
[ "$(stat -c %a "$tmp/o.txt")" = 644 ] || { echo "FAIL -o: mode $(stat -c %a "$tmp/o.txt")"; fails=$((fails + 1)); }
: > "$tmp/empty"
"$lumbra" -q -B -i "$tmp/empty" > "$tmp/out" || { echo "FAIL -i: status"; fails=$((fails + 1)); }

# The start-up file comes from the library directory, or from -S.
mkdir "$tmp/lib"
: > "$tmp/lib/lumbrait"
"$lumbra" -q -B -l "$tmp/lib" < /dev/null || { echo "FAIL -l: status"; fails=$((fails + 1)); }
"$lumbra" -q -B -S "$tmp/lib/lumbrait" < /dev/null || { echo "FAIL -S: status"; fails=$((fails + 1)); }
gzip -c "$tmp/lib/lumbrait" > "$tmp/init.gz"
"$lumbra" -q -B -S "$tmp/init.gz" < /dev/null || { echo "FAIL -S .gz: status"; fails=$((fails + 1)); }

# -s: built-ins that would touch the server's own files or processes refuse before doing
# anything, and the error ends the program with status 1; others still work.
refuse() {
    printf '%s\n' "$2" > "$tmp/server.lum"
    check "server-$1" 1 "Error, '$3'" -- -q -s -i "$tmp/server.lum"
}
refuse OpenWriting "OpenWriting('$tmp/made');" "cannot do OpenAppending/OpenWriting as a server"
refuse OpenAppending "OpenAppending('$tmp/made');" "cannot do OpenAppending/OpenWriting as a server"
refuse OpenPipe "OpenPipe('touch $tmp/made');" "cannot do OpenPipe as a server"
refuse ReadProgram "ReadProgram('$tmp/lib/lumbrait');" "Cannot ReadProgram as a server"
refuse OpenReading "OpenReading('$tmp/lib/lumbrait');" "Cannot OpenReading as a server"
refuse ReadOffsetLine "ReadOffsetLine('$tmp/lib/lumbrait', 0);" "cannot ReadOffsetLine as a server"
refuse CallSystem "CallSystem('touch $tmp/made');" "cannot do CallSystem as a server"
refuse ReadRawFile "ReadRawFile('$tmp/lib/lumbrait');" "cannot do ReadRawFile as a server"
refuse TimedCallSystem "TimedCallSystem('touch $tmp/made');" "cannot do TimedCallSystem as a server"
[ -e "$tmp/made" ] && { echo "FAIL server: a refused built-in made a file"; fails=$((fails + 1)); }
printf 'lprint(sort([b, a]));\n' > "$tmp/server.lum"
check server-works 0 "[a, b]" -- -q -s -B -i "$tmp/server.lum"

if [ $fails = 0 ]; then echo "cli: all checks passed"; exit 0; fi
exit 1
