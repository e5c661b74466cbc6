#!/usr/bin/env bash
# Prints how much of the code is tests: cloc's code lines (no blanks, no
# comments) of tests/ and fuzz/ against every tracked source file. Golden
# files and documentation are data, not code, and count on neither side.
# With --check, exits 1 when the tests are more than a third of the code.
set -euo pipefail
check=0
[ "${1:-}" = --check ] && check=1
cd "$(dirname "$0")/.."
command -v cloc >/dev/null || { echo "test-share: cloc is not installed (scripts/install-deps.sh)" >&2; exit 2; }

files=$(mktemp)
trap 'rm -f "$files"' EXIT
git ls-files | grep -Ev '^tests/data/|\.md$|^docs/|^man/' >"$files"

count() {  # code lines of the listed files matching the pattern
    grep -E "$1" "$files" >"$files.part" || true
    if [ -s "$files.part" ]; then
        cloc --quiet --csv --list-file="$files.part" | awk -F, '$2 == "SUM" { print $5 }'
    else
        echo 0
    fi
    rm -f "$files.part"
}

tests=$(count '^(tests|fuzz)/')
all=$(count '.')
awk -v t="$tests" -v a="$all" -v check="$check" 'BEGIN {
    share = 100 * t / a
    printf "tests: %d of %d code lines (%.1f%%, the rest %d); the aim is a third or less\n", t, a, share, a - t
    exit (check && 3 * t > a) ? 1 : 0
}'
