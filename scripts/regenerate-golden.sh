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

# --- Golden transcripts (tests/data/golden/, tests/support/golden.hpp) ---
# The notifications a host saw and the frames the watch received, per case of
# the e2e and fault suites, and the outcome tables of the cable, sdk and ui suites.
cmake --build "$build" --target test_e2e test_faults test_cable test_sdk test_ui
for suite in test_e2e test_cable test_sdk test_ui; do
    STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/$suite" --gtest_brief=1
done
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/faults/test_faults" \
    --gtest_filter='PartialWrites.*:SimulatedLineFaults.*' --gtest_brief=1
git -C "$root" status --short -- tests/data/golden
