#!/usr/bin/env bash
# Prints the non-blank lines of code and of tests and their ratio.
# Code: src/**/*.cpp, *.h, *.y and every file of lib/. Tests: every text file under tests/
# except the fuzz corpus and the expected outputs of the transcripts (tests/lang/*.out, which
# lumbra writes and nobody edits); those are counted apart, with a second ratio that takes them
# in. A line is blank when it holds nothing but white space; a file is text when grep does not
# take it for binary.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { xargs -0 -r grep -Ih '[^[:space:]]' -- 2>/dev/null | wc -l; }
code=$( { find src -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.y' \) -print0
          find lib -type f -print0; } | count)
tests=$(find tests \( -path tests/fuzz/corpus -o -path 'tests/lang/*.out' \) -prune -o -type f \
        -print0 | count)
outputs=$(find tests/lang -name '*.out' -print0 | count)
awk -v c="$code" -v t="$tests" -v o="$outputs" 'BEGIN {
    printf "code %d\ntests %d\nratio %.3f\nexpected outputs %d\nratio with outputs %.3f\n",
           c, t, t / c, o, (t + o) / c }'
