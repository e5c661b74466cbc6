#!/usr/bin/env bash
# Rewrites the golden files under tests/data/ (a realistic session as GPX, TCX,
# JSON and FIT) from what the host kit writes today. Only on purpose: after a
# deliberate change of a file format or of the simulator's realistic content;
# say why in the commit that carries the new files.
#   scripts/regenerate-golden.sh [build dir (build)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
cmake --build "$build" --target test_hostkit
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/test_hostkit" \
    --gtest_filter='GoldenFiles.*' --gtest_brief=1
git -C "$root" status --short -- tests/data
git -C "$root" diff --stat -- tests/data

# --- Golden transcripts of the e2e and fault suites (tests/data/golden/) ---
# The notifications a host saw and the frames the watch received, per case of
# the suites below (tests/support/golden.hpp).
cmake --build "$build" --target test_e2e test_faults
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/test_e2e" --gtest_brief=1
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/faults/test_faults" \
    --gtest_filter='PartialWrites.*' --gtest_brief=1
git -C "$root" status --short -- tests/data/golden
