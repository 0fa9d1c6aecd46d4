#!/bin/sh
# A list nested a million deep: every walk over it ends in a result or an error, and the session
# goes on. Not a transcript: a collection after every statement would make building it take
# quadratic time.
lumbra=$1
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$lumbra" -q -B > "$out" <<'EOF'
L := []: for i to 1000000 do L := [L] od:
traperror(sprintf('%a', L));
type(ObjectHash(L), integer);
T := table(): T[L] := 1: T[L];
# A copy may be made or may overflow, as the frames of the build allow.
C := traperror(copy(L)): 'copied';
traperror(evalb(L = [[L]]));
traperror(has(L, 5));
traperror(size(L));
traperror(compress(L));
traperror(disassemble(L));
traperror({L, [L]});
'still here';
EOF
status=$?
overflow='stack overflow, stack too small or infinite recursion'
want=$(printf '%s\n' "$overflow" true 1 copied "$overflow" "$overflow" "$overflow" \
    'object too long to compress' "$overflow" "$overflow" 'still here')
if [ "$status" != 0 ] || [ "$(cat "$out")" != "$want" ]; then
    echo "deep structures: exit status $status, output:"
    cat "$out"
    exit 1
fi
