#!/usr/bin/env bash
# What `make run` shows: the SDK version, the cable ports, and the watch's
# version read through the real serial path from a simulated watch.
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
