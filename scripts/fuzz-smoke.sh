#!/usr/bin/env bash
# Runs every fuzz target of a libFuzzer build for a short time, starting from
# its seeds under fuzz/corpus/<target>/ (copied, so what the run discovers
# stays out of the tree). A crash, leak or failed check stops that target;
# its input is kept as build-fuzz/fuzz-findings/<target>-crash-*.
#   scripts/fuzz-smoke.sh [build dir (build-fuzz)] [seconds per target (20)]
set -uo pipefail

build=${1:-build-fuzz}
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
findings="$build/fuzz-findings"
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One target per processor at a time; each writes its verdict to a file.
jobs=$(nproc)
run_target() {
  local target=$1 name
  name=$(basename "$target")
  mkdir -p "$work/$name"
  if [ -d "$root/fuzz/corpus/$name" ]; then cp "$root/fuzz/corpus/$name"/* "$work/$name"/ 2>/dev/null; fi
  local log="$findings/$name.log"
  if "$target" "$work/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$findings/$name-" -print_final_stats=1 >"$log" 2>&1; then
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    echo "ok      $name (${runs:-?} runs in ${seconds} s)" >"$work/$name.verdict"
  else
    { echo "FAILED  $name: see $log"
      grep -m3 -E 'ERROR|runtime error|deadly signal' "$log" | sed 's/^/        /'; } >"$work/$name.verdict"
  fi
}

ran=0
for target in "$build"/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$target" &
  ran=$((ran + 1))
done
wait

failed=()
for verdict in "$work"/*.verdict; do
  [ -e "$verdict" ] || continue
  cat "$verdict"
  if grep -q '^FAILED' "$verdict"; then failed+=("$(basename "$verdict" .verdict)"); fi
done

if [ "$ran" -eq 0 ]; then
  echo "no fuzz targets under $build/fuzz (configure with -DSTRIDELOG_FUZZ=ON)" >&2
  exit 1
fi
if [ ${#failed[@]} -ne 0 ]; then
  echo "${#failed[@]} of $ran fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "all $ran fuzz targets ran clean"
