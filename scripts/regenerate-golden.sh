#!/usr/bin/env bash
# Rewrites every golden file under tests/data/ from what the code does today:
# the transcripts of notifications and frames (tests/support/golden.hpp), the
# realistic session as GPX, TCX, JSON and FIT, the FIT message dumps and what
# the tool prints. Only on purpose: after a deliberate change of a file format,
# a transcript or the simulator's realistic content; read the diff it shows and
# say why in the commit that carries the new files.
#   scripts/regenerate-golden.sh [build dir (build)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
cmake --build "$build" -j "$(nproc)"

# Every suite reads STRIDELOG_REGENERATE_GOLDEN, so one ctest run rewrites what
# each compares with; the tool's scripts (label realtime) rewrite its output.
STRIDELOG_REGENERATE_GOLDEN=1 ctest --test-dir "$build" -j "$(nproc)" -LE realtime --output-on-failure
STRIDELOG_REGENERATE_GOLDEN=1 ctest --test-dir "$build" -j 2 -L realtime --output-on-failure

# What changed, for review before committing.
git -C "$root" status --short -- tests/data
git -C "$root" diff --stat -- tests/data
