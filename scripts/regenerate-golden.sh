#!/usr/bin/env bash
# Rewrites the golden files under tests/data/ (a realistic session as GPX, TCX,
# JSON and FIT) from what the host kit writes today. test_hostkit, the tool's
# script (what `workouts download` and `convert` write) and the install test
# (the example's GPX) compare with them. Only on purpose: after a deliberate
# change of a file format or of the simulator's realistic content; say why in
# the commit that carries the new files.
#   scripts/regenerate-golden.sh [build dir (build)]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
cmake --build "$build" --target test_hostkit
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/test_hostkit" \
    --gtest_filter='GoldenFiles.*' --gtest_brief=1

# ---- Host kit and tool (tests/hostkit, tests/tool): the FIT messages as the
# test's own decoder reads them, under tests/data/golden/hostkit/, and what
# the tool prints, under tests/data/golden/tool/ (the tool's script rewrites
# those when STRIDELOG_REGENERATE_GOLDEN is set).
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/test_hostkit" \
    --gtest_filter='FitExport*' --gtest_brief=1
cmake --build "$build" --target stridelog_tool stridelog-sim
STRIDELOG_REGENERATE_GOLDEN=1 bash "$root/tests/tool/tool_test.sh" "$build/tools/stridelog/stridelog" >/dev/null
STRIDELOG_REGENERATE_GOLDEN=1 bash "$root/tests/tool/firmware_test.sh" "$build/tools/stridelog/stridelog" >/dev/null

# --- Golden transcripts (tests/data/golden/, tests/support/golden.hpp) ---
# The notifications a host saw and the frames the watch received, per case of
# the e2e and fault suites, and the outcome tables of the cable, sdk and ui suites.
cmake --build "$build" --target test_e2e test_faults test_cable test_sdk test_ui
for suite in test_e2e test_cable test_sdk test_ui; do
    STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/$suite" --gtest_brief=1
done
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/faults/test_faults" \
    --gtest_filter='PartialWrites.*:SimulatedLineFaults.*' --gtest_brief=1
# The frame, the link, the update layer (A-GPS, firmware, the downloader and
# their files), under tests/data/golden/{wire,link,update}/.
cmake --build "$build" --target test_wire test_link test_update
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/test_wire" --gtest_brief=1
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/test_link" --gtest_brief=1
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/update/test_update" --gtest_brief=1
# What changed, for review before committing.
git -C "$root" status --short -- tests/data
git -C "$root" diff --stat -- tests/data
