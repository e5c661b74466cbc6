#!/usr/bin/env bash
# Runs the suites that wait on real time (the pseudo-terminal tests and the
# tests labelled realtime) over and over while stress-ng keeps every processor
# busy, and reports each failure. A reply deadline that only a busy machine
# misses shows up here and not in a quiet `ctest`.
#
#   scripts/stress.sh [-n RUNS] [-b BUILD_DIR] [-c HOG_WORKERS] [-s SOAK_TASKS]
#
# RUNS (default 20): rounds of the pty and real-time suites, all side by side
# (ctest -j); HOG_WORKERS (default 2): stress-ng --cpu workers for the whole
# run; SOAK_TASKS (default 0): when set, one more soak run of that many tasks
# under the same hog. Exits 1 when any run failed, 2 on a set-up problem.
set -uo pipefail
cd "$(dirname "$0")/.."

runs=20
build=build
hog=2
soak_tasks=0
while getopts "n:b:c:s:" opt; do
    case $opt in
        n) runs=$OPTARG ;;
        b) build=$OPTARG ;;
        c) hog=$OPTARG ;;
        s) soak_tasks=$OPTARG ;;
        *) sed -n '2,14p' "$0"; exit 2 ;;
    esac
done

command -v stress-ng >/dev/null || { echo "stress: stress-ng is not installed (scripts/install-deps.sh)" >&2; exit 2; }
[ -f "$build/CTestTestfile.cmake" ] || { echo "stress: $build is not a built tree (make build)" >&2; exit 2; }

# The tests that talk over a pseudo-terminal, by name, and the real-time label.
pty_tests='Pty|PseudoTerminal|SerialPort|TtySerial|OverAPseudo'
log_dir=$(mktemp -d /tmp/stridelog-stress.XXXXXX)

stress-ng --cpu "$hog" --timeout 0 --quiet &
hog_pid=$!
trap 'kill "$hog_pid" 2>/dev/null; wait "$hog_pid" 2>/dev/null' EXIT
sleep 1
kill -0 "$hog_pid" 2>/dev/null || { echo "stress: stress-ng did not start" >&2; exit 2; }

failed_runs=0
failures=()
start=$SECONDS
for ((i = 1; i <= runs; i++)); do
    log=$log_dir/run-$i.log
    # Both selections at once, side by side, as ctest -j schedules them.
    (
        ctest --test-dir "$build" -R "$pty_tests" -LE realtime -j 2 --output-on-failure --timeout 300 &
        a=$!
        ctest --test-dir "$build" -L realtime -j 6 --output-on-failure &
        b=$!
        wait $a; ra=$?
        wait $b; rb=$?
        exit $((ra | rb))
    ) >"$log" 2>&1
    rc=$?
    if [ $rc -ne 0 ]; then
        failed_runs=$((failed_runs + 1))
        names=$(grep -E '^\s*[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess)' "$log" | sed -E 's/^\s*[0-9]+ - //' | tr '\n' ' ')
        failures+=("run $i: $names(log $log)")
        echo "run $i/$runs: FAILED $names"
    else
        echo "run $i/$runs: passed ($((SECONDS - start)) s so far)"
    fi
done

soak_rc=0
if [ "$soak_tasks" -gt 0 ]; then
    log=$log_dir/soak.log
    STRIDELOG_SOAK_TASKS=$soak_tasks ctest --test-dir "$build" -R '^soak$' --output-on-failure --timeout 3600 >"$log" 2>&1
    soak_rc=$?
    if [ $soak_rc -eq 0 ]; then
        echo "soak of $soak_tasks tasks: passed"
    else
        echo "soak of $soak_tasks tasks: FAILED (log $log)"
    fi
fi

echo "stress: $runs runs with stress-ng --cpu $hog: $failed_runs failed, $((SECONDS - start)) s"
for f in "${failures[@]}"; do echo "  $f"; done
[ $failed_runs -eq 0 ] && [ $soak_rc -eq 0 ] && rm -rf "$log_dir"
[ $failed_runs -eq 0 ] && [ $soak_rc -eq 0 ]
