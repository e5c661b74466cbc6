#!/usr/bin/env bash
# The host tool as a user runs it: output, exit status, the error line, the
# files it writes, and what it leaves behind.
set -u
tool="$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Nothing of the user's: no registry file, no device map, no machine ports.
export XDG_CONFIG_HOME="$scratch/config" HOME="$scratch" STRIDELOG_SYSFS_ROOT="$scratch/sys"
unset STRIDELOG_DEVICE_MAP
# The tool's temporary files land here, so leftovers can be seen.
export TMPDIR="$scratch/tmp"
mkdir -p "$TMPDIR"
passes=0
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
expect() {  # legend, command that must succeed...
    local legend="$1"
    shift
    if "$@"; then passes=$((passes + 1)); else fail "$legend"; fi
}
run=("$tool")
check() {  # legend, expected status, expected stdout, expected stderr pattern, args...
    local legend="$1" want_rc="$2" want_out="$3" want_err="$4"
    shift 4
    local out err rc
    out=$("${run[@]}" "$@" 2>"$scratch/err")
    rc=$?
    err=$(cat "$scratch/err")
    if [ "$rc" != "$want_rc" ] || [ "$out" != "$want_out" ] || ! grep -qE -- "$want_err" <<<"$err"; then
        fail "$legend: status $rc (want $want_rc), stdout [${out:0:300}] (want [${want_out:0:300}]), stderr [$err]"
    else
        passes=$((passes + 1))
    fi
}
sector_of() { dd if="$1" bs=4096 skip="$2" count=1 status=none; }
hex_of() { od -An -tx1 -v | tr -d ' \n'; }
same() { cmp -s "$1" "$2"; }
size_is() { [ -f "$1" ] && [ "$(stat -c %s "$1")" = "$2" ]; }
absent() { [ ! -e "$1" ]; }

# A watch whose flash is random but for its long version text at 96 of sector 0.
long_version="1.31.02_VUNA0_00"
head -c 1048576 /dev/urandom >"$scratch/expected.bin"
printf '%s' "$long_version" | dd of="$scratch/expected.bin" bs=1 seek=96 conv=notrunc status=none
cp "$scratch/expected.bin" "$scratch/watch.bin"  # the simulator saves to it on exit
watch=(--simulate --sim-image "$scratch/watch.bin")

check "sdk version" 0 "SDK73688,2.0.11.260" "^" sdk-version
check "sdk version as JSON" 0 '{"sdk_version":"SDK73688,2.0.11.260"}' "^" --json sdk-version
check "no cable: empty port list" 0 "" "^" ports
check "no cable: the error notification" 1 "" \
    "^error 0x1000 SDK_ERR_NO_PORT: no serial port of the watch's cable exists" version
check "simulated watch over a pty" 0 "Ver1.30" "^" --simulate version
check "progress on stderr keeps JSON clean" 0 '{"version":"Ver1.30"}' "100%" --simulate --show --json version
check "no command" 2 "" "subcommand"
check "two presenters at once" 2 "" "pick one" --show --window-png "$scratch/w.png" version

check "long version of an erased flash" 0 "<FF>" "^" --simulate long-version
check "long version from the flash" 0 "$long_version" "^" "${watch[@]}" long-version
check "long version as JSON" 0 "{\"long_version\":\"$long_version\"}" "^" --json "${watch[@]}" long-version
for bad in 256 1000 -1 3x ""; do
    check "read-sector '$bad' is a usage error" 2 "" "sector number is 0 to 255" read-sector "$bad"
done
check "read-sector needs its number" 2 "" "N is required" read-sector
check "backup needs --out" 2 "" "--out is required" backup
check "--sim-image needs --simulate" 2 "" "requires --simulate" --sim-image "$scratch/watch.bin" version
check "no cable: read-sector fails with the error notification" 1 "" "^error 0x1000 " read-sector 0

# Sector bytes: to a file, as a hex dump, as JSON, and as --raw keeps them.
check "read-sector 0 --out" 0 "" "^" "${watch[@]}" read-sector 0 --out "$scratch/s0.bin"
expect "read-sector 0 --out: 4096 bytes" size_is "$scratch/s0.bin" 4096
expect "read-sector 0 --out: the watch's sector 0" same "$scratch/s0.bin" <(sector_of "$scratch/expected.bin" 0)
check "read-sector 3 with --raw" 0 "" "^" --raw "$scratch/raw" "${watch[@]}" read-sector 3 --out "$scratch/s3.bin"
expect "read-sector 3 --out: the watch's sector 3" same "$scratch/s3.bin" <(sector_of "$scratch/expected.bin" 3)
expect "--raw: the sector block as received" same "$scratch/raw/2021-000.bin" "$scratch/s3.bin"
expect "--raw: the version block of the connection" same "$scratch/raw/2001-000.bin" <(printf Ver1.30)
raw_names_ok() {  # every file is <code>-<nnn>.bin, numbered from 000 per code without gaps
    local f code n
    for f in "$scratch/raw"/*; do
        [[ $(basename "$f") =~ ^(20[0-2][0-9])-([0-9]{3})\.bin$ ]] || return 1
        code=${BASH_REMATCH[1]} n=$((10#${BASH_REMATCH[2]}))
        [ "$n" = 0 ] || [ -f "$scratch/raw/$code-$(printf %03d $((n - 1))).bin" ] || return 1
        [ "$code" != 2022 ] || size_is "$f" 4 || return 1
    done
}
expect "--raw: file names, numbering, 4-byte progress blocks" raw_names_ok
dump=$("$tool" "${watch[@]}" read-sector 0)
expect "hex dump: 256 lines and the end offset" \
    test "$(wc -l <<<"$dump")" = 257 -a "$(tail -n 1 <<<"$dump")" = 00001000
expect "hex dump: offset, two groups of 8, printable text" grep -qxF \
    "00000060  31 2e 33 31 2e 30 32 5f  56 55 4e 41 30 5f 30 30  |1.31.02_VUNA0_00|" <<<"$dump"
dumped_bytes=$(head -n 256 <<<"$dump" | cut -c11-59 | tr -d ' \n')
expect "hex dump: every byte of the sector" \
    test "${#dumped_bytes}" = 8192 -a "$dumped_bytes" = "$(hex_of <"$scratch/expected.bin" | head -c 8192)"
check "read-sector as JSON" 0 "{\"data\":\"$(hex_of <"$scratch/s3.bin")\",\"sector\":3}" "^" \
    --json "${watch[@]}" read-sector 3

# The whole flash.
check "backup" 0 "" "sector 256/256" "${watch[@]}" backup --out "$scratch/image.bin"
expect "backup: the watch's whole flash" same "$scratch/image.bin" "$scratch/expected.bin"
expect "backup: sector 3 as read-sector reads it" same <(sector_of "$scratch/image.bin" 3) "$scratch/s3.bin"
expect "backup: no part file left" absent "$scratch/image.bin.part"
check "no cable: backup fails on sector 0" 1 "" "^error 0x1000 " backup --out "$scratch/none.bin"
expect "failed backup: no image" absent "$scratch/none.bin"
expect "failed backup: no part file" absent "$scratch/none.bin.part"

# Ctrl-C mid-backup: the task ends, the simulator is stopped, no image is left.
set -m  # a background job that still takes SIGINT
"$tool" "${watch[@]}" backup --out "$scratch/cut.bin" 2>"$scratch/cut.err" &
pid=$!
set +m
sim_pid=""
for _ in $(seq 200); do
    [ -n "$sim_pid" ] || sim_pid=$(cat /proc/"$pid"/task/*/children 2>/dev/null | tr -d ' ')
    grep -q "sector 32/256" "$scratch/cut.err" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
kill -INT "$pid" 2>/dev/null
wait "$pid"
rc=$?
expect "Ctrl-C mid-backup: exit 130 after some sectors ($(tr '\n' ' ' <"$scratch/cut.err"))" \
    test "$rc" = 130 -a -n "$(grep "sector 32/256" "$scratch/cut.err")"
expect "Ctrl-C mid-backup: the simulator child is gone" test -n "$sim_pid" -a ! -e "/proc/$sim_pid"
expect "Ctrl-C mid-backup: no image" absent "$scratch/cut.bin"
expect "Ctrl-C mid-backup: no part file" absent "$scratch/cut.bin.part"

# A watch that never answers (a stopped simulator): Ctrl-C ends the task that
# waits for it at once, rather than after the version retries (9 s).
sim_exe="$(dirname "$tool")/../../sim/stridelog-sim"
"$sim_exe" --device-map "$scratch/silent.map" >"$scratch/silent.pty" &
silent_pid=$!
for _ in $(seq 100); do [ -s "$scratch/silent.pty" ] && break; sleep 0.05; done
kill -STOP "$silent_pid"
interrupt_after() {  # seconds, args...: the tool's status and whole run time in ms
    local delay="$1" start rc
    shift
    start=$(date +%s%N)
    set -m
    STRIDELOG_DEVICE_MAP="$scratch/silent.map" "$tool" "$@" 2>"$scratch/silent.err" &
    local pid=$!
    set +m
    sleep "$delay"
    kill -INT "$pid" 2>/dev/null
    wait "$pid"
    rc=$?
    echo "$rc $((($(date +%s%N) - start) / 1000000))"
}
for cmd in "read-sector 0" "version" "backup --out $scratch/silent.bin"; do
    read -r rc ms < <(interrupt_after 0.5 $cmd)
    expect "silent watch, Ctrl-C in $cmd: 130 within 2 s (status $rc, $ms ms, $(cat "$scratch/silent.err"))" \
        test "$rc" = 130 -a "$ms" -lt 2000
done
expect "silent watch: no backup image" absent "$scratch/silent.bin"
start=$(date +%s%N)
STRIDELOG_DEVICE_MAP="$scratch/silent.map" "$tool" --timeout 1 version 2>"$scratch/silent.err"
rc=$?
ms=$((($(date +%s%N) - start) / 1000000))
expect "silent watch, --timeout 1: status 1 within 3 s ($rc, $ms ms)" \
    test "$rc" = 1 -a "$ms" -lt 3000 -a -n "$(grep "did not finish in 1 s" "$scratch/silent.err")"
kill -CONT "$silent_pid"
kill -TERM "$silent_pid"
wait "$silent_pid"

# The simulator is found beside the tool, in the build tree or on PATH; else a clear error.
mkdir -p "$scratch/lonely"
cp "$tool" "$scratch/lonely/stridelog"
run=(env PATH="$scratch/nowhere" "$scratch/lonely/stridelog")
check "no simulator anywhere" 1 "" "cannot start the simulated watch: stridelog-sim was found neither" \
    --simulate version
run=("$tool")
head -c 2097152 /dev/zero >"$scratch/too-long.bin"
check "simulator refuses its image" 1 "" "stridelog-sim ended \(exit status 1\) before announcing" \
    --simulate --sim-image "$scratch/too-long.bin" version

# Where the results cannot be written.
touch "$scratch/a-file"
check "--raw into a file" 1 "" "^error: --raw: " --raw "$scratch/a-file" sdk-version
check "--raw with a call that posts one block" 0 "SDK73688,2.0.11.260" "^" --raw "$scratch/raw-sdk" sdk-version
expect "--raw: the SDK version block" same "$scratch/raw-sdk/2000-000.bin" <(printf SDK73688,2.0.11.260)
check "backup into a missing folder" 1 "" "^error: .*no-such-folder/image.bin.part" \
    "${watch[@]}" backup --out "$scratch/no-such-folder/image.bin"

leftovers() {  # no temporary folder, no simulator of this script still running
    [ -z "$(ls -A "$TMPDIR")" ] || return 1
    local cmdline
    for cmdline in /proc/[0-9]*/cmdline; do
        if tr '\0' ' ' 2>/dev/null <"$cmdline" | grep -q "stridelog-sim.*$TMPDIR"; then return 1; fi
    done
}
expect "nothing left behind (temporary files, simulators)" leftovers

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
