#!/usr/bin/env bash
# The library's exported symbols are its promise to the programs built on it: a change
# to them must be deliberate. Compares them with library/exported-symbols.txt; after an
# intended change, refresh that list with scripts/export-list.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
now=$(mktemp)
trap 'rm -f "$now"' EXIT
"$root/scripts/export-list" >"$now"
if ! diff -u "$root/library/exported-symbols.txt" "$now"; then
    echo "FAIL: the exported symbols changed (- stored, + built);" \
        "if intended: scripts/export-list > library/exported-symbols.txt"
    exit 1
fi
echo "PASS: $(wc -l <"$now") exported symbols, as stored"
