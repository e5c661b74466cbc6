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
git -C "$root" status --short -- tests/data
git -C "$root" diff --stat -- tests/data

# ---- Host kit and tool (tests/hostkit, tests/tool): the FIT messages as the
# test's own decoder reads them, under tests/data/golden/hostkit/, and what
# the tool prints, under tests/data/golden/tool/ (the tool's script rewrites
# those when STRIDELOG_REGENERATE_GOLDEN is set).
STRIDELOG_REGENERATE_GOLDEN=1 "$build/tests/test_hostkit" \
    --gtest_filter='FitExport*' --gtest_brief=1
cmake --build "$build" --target stridelog_tool stridelog-sim
STRIDELOG_REGENERATE_GOLDEN=1 bash "$root/tests/tool/tool_test.sh" "$build/tools/stridelog/stridelog" >/dev/null
STRIDELOG_REGENERATE_GOLDEN=1 bash "$root/tests/tool/firmware_test.sh" "$build/tools/stridelog/stridelog" >/dev/null
git -C "$root" status --short -- tests/data/golden
