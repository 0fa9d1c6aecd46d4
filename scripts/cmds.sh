#!/bin/sh
# Writes lib/cmds, the names the line editor completes: the keywords of the language and the
# names the library assigns. Run it again when the library gains names.
cd "$(dirname "$0")/.."
{
    echo "# The names the line editor completes (control-space), one a line; made by scripts/cmds.sh."
    {
        sed -n 's/^ *{"\([a-z]*\)", [A-Z]*},$/\1/p' src/front/yylex.cpp
        for f in lib/*; do
            [ "$f" = lib/cmds ] || sed -n 's/^\([A-Za-z_][A-Za-z_0-9]*\) *:=.*/\1/p' "$f"
        done
    } | LC_ALL=C sort -u
} > lib/cmds
