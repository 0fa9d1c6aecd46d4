#!/usr/bin/env bash
# A longer run of the mutation fuzz over the transcripts than CI makes.
#   scripts/fuzz.sh [SECONDS [SEED]]        the normal build (default 1800 seconds, seed 1)
#   SANITIZE=1 scripts/fuzz.sh ...          the AddressSanitizer+UBSan build
# Inputs that crash, trip a sanitizer or hang are kept in fuzz-findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
seconds=${1:-1800}
seed=${2:-1}
dir=build
extra=()
if [ "${SANITIZE:-0}" = 1 ]; then
    dir=build-san
    extra=(-DLUMBRA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    export LUMBRA_FUZZ_SANITIZED=1
fi
cmake -S . -B "$dir" "${extra[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" --target lumbra mutate_fuzz >/dev/null
mkdir -p fuzz-findings
exec "$dir/mutate_fuzz" "$dir/lumbra" tests lib --seconds "$seconds" --seed "$seed" \
    --keep fuzz-findings
