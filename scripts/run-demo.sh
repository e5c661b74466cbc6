#!/usr/bin/env bash
# What `make run` shows: the SDK version, the cable ports, the watch's
# version read through the real serial path from a simulated watch, and its
# workouts downloaded as GPX files.
set -euo pipefail
build="${1:-build}"
tool="$build/tools/stridelog/stridelog"

echo "\$ stridelog sdk-version"
"$tool" sdk-version
echo "\$ stridelog ports"
"$tool" ports || true
echo "\$ stridelog --simulate version"
"$tool" --simulate version
echo "\$ stridelog --simulate long-version"
"$tool" --simulate long-version
echo "\$ stridelog --simulate read-sector 0   (first lines)"
dump="$(mktemp)"
trap 'rm -f "$dump"' EXIT
"$tool" --simulate read-sector 0 > "$dump"
head -n 4 "$dump"
workouts="$build/demo-workouts"
echo "\$ stridelog --simulate workouts list"
"$tool" --simulate workouts list
echo "\$ stridelog --simulate workouts download --out $workouts"
"$tool" --simulate workouts download --out "$workouts"
echo "(the GPX files are in $workouts)"
