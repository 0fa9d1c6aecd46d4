#!/bin/sh
# The README's recipe on one machine: AllAgainstAll split by entry ranges into independent jobs
# of scripts/allagainstall-part.lum, two at a time (GNU parallel when it is installed, xargs
# otherwise); the parts put together give the list of one run.
lumbra=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
head -n 40 "$src/data/sample.db" > small.db
# The indexes are made once, before the jobs start.
echo "ReadDb('small.db'):" | "$lumbra" -q -B > /dev/null || exit 1
echo "ReadDb('small.db'): WriteMatches(AllAgainstAll(60), 'whole');" | "$lumbra" -q -B || exit 1
export DB=small.db GOAL=60 COUNT=7
job="FIRST={} '$lumbra' -q -B -E -i '$src/scripts/allagainstall-part.lum'"
if parallel --version 2>/dev/null | grep -q 'GNU parallel'; then
    seq 1 7 40 | parallel -j 2 "$job" || { echo "FAIL: a job failed"; exit 1; }
else
    seq 1 7 40 | xargs -P 2 -I {} sh -c "$job" || { echo "FAIL: a job failed"; exit 1; }
fi
[ "$(ls part.* | wc -l)" -eq 6 ] || { echo "FAIL: not one file a part"; ls; exit 1; }
cat part.* > merged
if ! cmp -s whole merged; then
    echo "FAIL: the parts differ from the whole run"; diff whole merged | head; exit 1
fi
[ "$(wc -l < whole)" -gt 10 ] || { echo "FAIL: too few matches to tell"; exit 1; }
got=$(echo "ReadDb('small.db'): evalb(ReadMatches('merged') = AllAgainstAll(60));" | "$lumbra" -q -B)
[ "$got" = true ] || { echo "FAIL: the merged list read back is [$got]"; exit 1; }
# A failing job fails the run: the joblog of parallel --resume-failed then runs it again.
FIRST=1 DB=missing.db "$lumbra" -q -B -E -i "$src/scripts/allagainstall-part.lum" > /dev/null &&
    { echo "FAIL: a job without its database succeeded"; exit 1; }
exit 0
