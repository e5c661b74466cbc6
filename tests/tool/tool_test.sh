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
    printf '%s\n%s\n' "$out" "$err" >>"$scratch/transcript"  # every output, for secrets
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

check "long version of an erased flash" 0 "<FF>" "^" --simulate --sim-image "$scratch/erased.bin" long-version
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

# ---- Workouts: session blocks to files, read back by independent readers.
# Blocks are built here from their byte layout; gpsbabel, xmllint and jq read the files.
bytes() { local b; for b in "$@"; do printf '\\x%02x' "$b"; done; }
le() {  # width value: little-endian, two's complement
    local w=$1 v=$2 i
    ((v < 0)) && v=$((v + (1 << (8 * w))))
    for ((i = 0; i < w; i++)); do printf '\\x%02x' $(((v >> (8 * i)) & 255)); done
}
stamp() { bytes "$6" "$5" "$4" "$3" "$2" $(($1 - 2000)); }  # y mo d h mi s, stored s first
erased_stamp() { bytes 255 255 255 255 255 255; }
header() {  # recorded points, laps, y mo d h mi s, filler byte
    le 2 "$1"
    bytes "$2"
    stamp "$3" "$4" "$5" "$6" "$7" "$8"
    local i
    for ((i = 9; i < 48; i++)); do bytes "$9"; done
}
laps() { local i j; for ((i = 0; i < $1; i++)); do for ((j = 0; j < 16; j++)); do bytes $((i * 16 + j)); done; done; }
point() {  # type, y mo d h mi s, lon lat (x 10^7), alt, m1 m2 m3 m4
    bytes "$1" 0 $(($2 - 2000)) "$3" "$4" "$5" "$6" "$7"
    le 4 "$8"
    le 4 "$9"
    le 2 "${10}"
    le 2 "${11}"
    le 2 "${12}"
    le 2 "${13}"
    le 1 "${14}"
}
binary() { printf '%b' "$(cat)"; }  # the escapes above as bytes
no_position=2000000000
# Session A's points: two without position first, then 150 five seconds apart
# in summer time, west and south of 0/0 too, one of them without position.
a_longitude() { echo $((($1 % 3 == 2 ? -1 : 1) * (123456789 + 1234567 * $1))); }
a_latitude() { echo $((-334455667 + 98765 * $1)); }
blocks="$scratch/blocks"
mkdir -p "$blocks"
{
    stamp 2026 7 1 11 59 0
    stamp 2026 7 1 12 0 0
    header 150 2 2026 7 1 12 0 0 1
    laps 2
    le 4 152
    point 3 2026 7 1 12 0 0 "$no_position" 0 0 0 0 0 1
    point 3 2026 7 1 12 0 2 "$no_position" 0 0 0 0 0 2
    for ((i = 0; i < 150; i++)); do
        t=$((5 * i + 4))
        lon=$(a_longitude "$i")
        ((i == 77)) && lon=$no_position
        point 1 2026 7 1 12 $((t / 60)) $((t % 60)) "$lon" "$(a_latitude "$i")" $((i - 20)) "$i" 2 3 4
    done
} | binary >"$blocks/2008-000.bin"
# Session B: the same start, another session (other header values, stamps erased).
{
    erased_stamp
    erased_stamp
    header 2 0 2026 7 1 12 0 0 2
    le 4 2
    point 0 2026 7 1 12 0 0 90000000 480000000 500 0 0 0 0
    point 1 2026 7 1 12 0 30 90010000 480010000 501 0 0 0 0
} | binary >"$blocks/2008-001.bin"
# Session C: no track points, three laps, in winter time.
{
    stamp 2026 1 15 8 30 0
    stamp 2026 1 15 8 30 0
    header 0 3 2026 1 15 8 30 0 3
    laps 3
} | binary >"$blocks/2007-000.bin"
expect "a bare block with three laps is 108 bytes" size_is "$blocks/2007-000.bin" 108
expect "session A's block is 64 + 32 + 25 x 152 bytes" size_is "$blocks/2008-000.bin" $((64 + 32 + 25 * 152))

# Degrees x 10^7 as text with seven decimals.
e7() { awk -v v="$1" 'BEGIN { s = v < 0 ? "-" : ""; v = v < 0 ? -v : v; printf "%s%d.%07d", s, int(v / 10000000), v % 10000000 }'; }
# Session A's positioned points as written above: UTC time (converted by date
# in the zone of the environment), latitude, longitude.
expected_points() {
    local i t
    for ((i = 0; i < 150; i++)); do
        ((i == 77)) && continue
        t=$((5 * i + 4))
        printf '%s,%s,%s\n' "$(date -u -d "@$(date -d "2026-07-01 12:$((t / 60)):$((t % 60))" +%s)" +%FT%TZ)" \
            "$(e7 "$(a_latitude "$i")")" "$(e7 "$(a_longitude "$i")")"
    done
}
printf '%s\n' "FIELD_DELIMITER COMMA" "RECORD_DELIMITER NEWLINE" "BADCHARS COMMA" \
    'IFIELD ISO_TIME, "", "%s"' 'IFIELD LAT_DECIMAL, "", "%.7f"' 'IFIELD LON_DECIMAL, "", "%.7f"' \
    >"$scratch/points.style"
read_back() {  # gpsbabel format, file: the track points as time,lat,lon
    gpsbabel -t -i "$1" -f "$2" -x nuketypes,waypoints,routes -o xcsv,style="$scratch/points.style" -F -
}
from_json() {  # the positioned points of a JSON export
    jq -r '.points[] | select(.has_position) | "\(.time_utc),\(.latitude_e7),\(.longitude_e7)"' "$1" |
        awk -F, 'function deg(v, s) { s = v < 0 ? "-" : ""; v = v < 0 ? -v : v; return sprintf("%s%d.%07d", s, int(v / 10000000), v % 10000000) }
                 { print $1 "," deg($2) "," deg($3) }'
}
conv="$scratch/converted"
block_files=("$blocks/2008-000.bin" "$blocks/2008-001.bin" "$blocks/2007-000.bin")
run=(env TZ=Europe/Berlin "$tool")
for format in gpx tcx json; do
    check "convert to $format: one file per session, a suffix for a shared start" 0 \
        "$conv/2026-07-01T12-00-00.$format
$conv/2026-07-01T12-00-00_2.$format
$conv/2026-01-15T08-30-00.$format" "^$" workouts convert --format "$format" --out "$conv" "${block_files[@]}"
done
run=("$tool")
want=$(TZ=Europe/Berlin expected_points)
expect "the script's own points: 149 with a position, the first at 10:00:04Z" \
    test "$(wc -l <<<"$want")" = 149 -a "$(head -n 1 <<<"$want")" = "2026-07-01T10:00:04Z,-33.4455667,12.3456789"
expect "GPX read back by gpsbabel: the same points, UTC times, positions" \
    test "$(read_back gpx "$conv/2026-07-01T12-00-00.gpx")" = "$want"
expect "TCX read back by gpsbabel: the same points, UTC times, positions" \
    test "$(read_back gtrnctr "$conv/2026-07-01T12-00-00.tcx")" = "$want"
expect "JSON export: the same points" test "$(from_json "$conv/2026-07-01T12-00-00.json")" = "$want"
expect "JSON export: every point, those without a position too" \
    test "$(jq '.points | length' "$conv/2026-07-01T12-00-00.json")" = 152
expect "JSON export: erased stamps are absent" \
    test "$(jq -c '[.stamp_a, .stamp_b]' "$conv/2026-07-01T12-00-00_2.json")" = "[null,null]"
expect "JSON export: the reference stamps" \
    test "$(jq -c '[.stamp_a, .stamp_b]' "$conv/2026-07-01T12-00-00.json")" = '["2026-07-01T11:59:00","2026-07-01T12:00:00"]'
expect "GPX: well-formed" xmllint --noout "$conv"/*.gpx
expect "TCX: well-formed" xmllint --noout "$conv"/*.tcx
expect "GPX: the leading points without position are not track points" \
    test "$(grep -c "<trkpt " "$conv/2026-07-01T12-00-00.gpx")" = 149
expect "GPX: the measured values of the first point, in our namespace" \
    grep -q '<sl:values m1="0" m2="2" m3="3" m4="4"/>' "$conv/2026-07-01T12-00-00.gpx"
expect "GPX: the laps as hex" test "$(grep -c "<sl:lap>" "$conv/2026-01-15T08-30-00.gpx")" = 3
expect "GPX: a session without track has its start in UTC (winter, +01:00)" \
    grep -q "<time>2026-01-15T07:30:00Z</time>" "$conv/2026-01-15T08-30-00.gpx"
expect "GPX: the elevation" grep -q "<ele>-20</ele>" "$conv/2026-07-01T12-00-00.gpx"
expect "TCX: the lap's time runs from the first to the last positioned point" \
    grep -q "<TotalTimeSeconds>745</TotalTimeSeconds>" "$conv/2026-07-01T12-00-00.tcx"
check "--utc-offset instead of the host's zone" 0 "$scratch/offset/2026-07-01T12-00-00.gpx" "^$" \
    workouts convert --utc-offset -05:00 --out "$scratch/offset" "$blocks/2008-000.bin"
expect "--utc-offset -05:00: the first point at 17:00:04Z" \
    test "$(read_back gpx "$scratch/offset/2026-07-01T12-00-00.gpx" | head -n 1)" = "2026-07-01T17:00:04Z,-33.4455667,12.3456789"

# The folder's index: each session's identity is the SHA-256 of its block's first 60 bytes.
identity_of() { head -c 60 "$1" | sha256sum | cut -d' ' -f1; }
expect "index: session A as GPX under its file name" \
    grep -qxF "$(identity_of "$blocks/2008-000.bin") gpx 2026-07-01T12-00-00.gpx" "$conv/.stridelog-downloads"
expect "index: session B under the suffixed name" \
    grep -qxF "$(identity_of "$blocks/2008-001.bin") gpx 2026-07-01T12-00-00_2.gpx" "$conv/.stridelog-downloads"
run=(env TZ=America/New_York "$tool")
check "--new in another time zone: nothing new" 0 "" "no new workouts \(3 already downloaded\)" \
    workouts convert --new --out "$conv" "${block_files[@]}"
check "--new as JSON" 0 '{"files":[],"skipped":3}' "^" --json workouts convert --new --out "$conv" "${block_files[@]}"
check "the same sessions again keep their names" 0 "$conv/2026-07-01T12-00-00_2.gpx
$conv/2026-07-01T12-00-00.gpx" "^$" workouts convert --out "$conv" "$blocks/2008-001.bin" "$blocks/2008-000.bin"
run=("$tool")
{
    erased_stamp
    erased_stamp
    header 0 0 2026 7 1 12 0 0 9
} | binary >"$blocks/2007-001.bin"
check "a new session with a taken start does not overwrite" 0 "$conv/2026-07-01T12-00-00_3.gpx" "^$" \
    workouts convert --new --out "$conv" "$blocks/2007-001.bin"
head -c $((64 + 32 + 25 * 100)) "$blocks/2008-000.bin" >"$blocks/2008-009.bin"
check "a truncated block: error, exit 1" 1 "" "2008-009.bin cannot be read: track block of 2596 bytes, not the 3896" \
    workouts convert --out "$scratch/cut" "$blocks/2008-009.bin"
expect "a truncated block: nothing written" test -z "$(ls -A "$scratch/cut")"
check "--format must be known" 2 "" "--format is gpx, tcx, json or fit" workouts convert --format kml "$blocks/2008-000.bin"
check "--utc-offset must be +HH:MM" 2 "" "--utc-offset is" workouts convert --utc-offset 2 "$blocks/2008-000.bin"
for bad in "" "3,,0" "256" "a" "1,-1"; do
    check "--select '$bad' is a usage error" 2 "" "--select takes session indices" workouts download --select "$bad"
done

# Erasing asks on a terminal and refuses without one.
check "clear without a terminal nor --yes" 2 "" "no terminal to ask on; pass --yes" workouts clear </dev/null
check "download --clear without a terminal nor --yes" 2 "" "no terminal to ask on" \
    workouts download --clear --out "$scratch/dl" </dev/null
check "--select with --clear says the whole watch is erased" 2 "" "erases every session on the watch" \
    workouts download --select 1 --clear --out "$scratch/dl" </dev/null
asked=$(printf 'n\n' | script -qec "$tool workouts clear" /dev/null | tr -d '\r' | tr '\n' ' ')
expect "clear on a terminal asks, and No erases nothing ($asked)" \
    grep -q "Erase every workout on the watch? \[y/N\] .*nothing erased" <<<"$asked"

# ---- Workouts from a simulated watch whose flash this script writes: a
# directory with three sessions, their header sectors and track records
# (a full record, then deltas running across a sector boundary and an hour).
image="$scratch/workouts.bin"
head -c 1048576 /dev/zero | tr '\0' '\377' >"$image"
put_sector() { dd of="$image" bs=4096 seek="$1" conv=notrunc status=none; }
pad_sector() { head -c 4096 "$1" | cat - <(head -c 4096 /dev/zero | tr '\0' '\377') | head -c 4096; }
header_sector() {  # recorded points, laps, y mo d h mi s, filler: header, laps, stamps A = B
    {
        header "$@"
        for ((i = 48; i < 64; i++)); do bytes 0; done
        laps "$2"
    } | binary >"$scratch/sector"
    {
        pad_sector "$scratch/sector" | head -c 1648
        { stamp "$3" "$4" "$5" "$6" "$7" "$8"; stamp "$3" "$4" "$5" "$6" "$7" "$8"; } | binary
        head -c $((4096 - 1660)) /dev/zero | tr '\0' '\377'
    }
}
# Session 0: 300 points from 10:50:00, 5 s apart: a full record, then deltas.
s0_longitude() { echo $((85000000 + 1234 * $1)); }
s0_latitude() { echo $((475000000 - 567 * $1)); }
{
    point 0 2026 7 1 10 50 0 "$(s0_longitude 0)" "$(s0_latitude 0)" 400 10 20 30 40
    for ((i = 1; i < 300; i++)); do
        t=$((5 * i))
        bytes 1 0 $(((50 + t / 60) % 60)) $((t % 60))
        le 4 1234
        le 4 -567
        le 2 1
        le 2 "$i"
        le 2 20
        le 2 30
        bytes 40
    done
    bytes 15
} | binary >"$scratch/track0"
expect "session 0's records run into a second track sector" test "$(stat -c %s "$scratch/track0")" -gt 4096
header_sector 300 2 2026 7 1 10 50 0 1 | put_sector 5
pad_sector "$scratch/track0" | put_sector 6
tail -c +4097 "$scratch/track0" >"$scratch/track0b"
pad_sector "$scratch/track0b" | put_sector 7
# Session 1: 3 points at 2026-07-02 08:00:00.
header_sector 3 0 2026 7 2 8 0 0 2 | put_sector 9
{
    point 0 2026 7 2 8 0 0 -1000000 -2000000 5 0 0 0 0
    bytes 1 0 0 10
    le 4 -100
    le 4 -100
    le 2 0
    le 2 0
    le 2 0
    le 2 0
    bytes 0
    bytes 2 0 20 15
} | binary >"$scratch/track1"
pad_sector "$scratch/track1" | put_sector 10
# Session 2: no track points, two laps.
header_sector 0 2 2026 7 3 7 0 0 3 | put_sector 12
{
    for ((i = 0; i < 256; i++)); do bytes 255; done
    bytes 5 6 7 255 9 10 255 12 255 255
} | binary >"$scratch/sector"
pad_sector "$scratch/sector" | put_sector 0
s0_expected() {
    local i start
    start=$(date -d "2026-07-01 10:50:00" +%s)
    paste -d, <(for ((i = 0; i < 300; i++)); do echo "@$((start + 5 * i))"; done | date -u -f - +%FT%TZ) \
        <(for ((i = 0; i < 300; i++)); do echo "$(e7 "$(s0_latitude "$i")"),$(e7 "$(s0_longitude "$i")")"; done)
}
want0=$(TZ=Europe/Berlin s0_expected)
watch=(--simulate --sim-image "$image")
run=(env TZ=Europe/Berlin "$tool")
check "workouts list" 0 "index  start                points  laps
    0  2026-07-01T10:50:00     300     2
    1  2026-07-02T08:00:00       3     0
    2  2026-07-03T07:00:00       0     2" "^$" "${watch[@]}" workouts list
check "workouts list with --raw" 0 "$(printf '%s\n' "index  start                points  laps" \
    "    0  2026-07-01T10:50:00     300     2" "    1  2026-07-02T08:00:00       3     0" "    2  2026-07-03T07:00:00       0     2")" \
    "^$" --raw "$scratch/raw-list" "${watch[@]}" workouts list
expect "--raw: the summary block, 4 + 3 x 48 bytes, the headers as stored" \
    test "$(stat -c %s "$scratch/raw-list/2009-000.bin")" = 148 -a \
    "$(tail -c +5 "$scratch/raw-list/2009-000.bin" | head -c 48 | hex_of)" = "$(sector_of "$image" 5 | head -c 48 | hex_of)"
check "workouts list as JSON" 0 '{"workouts":[{"index":0,"laps":2,"recorded_points":300,"start":"2026-07-01T10:50:00"},{"index":1,"laps":0,"recorded_points":3,"start":"2026-07-02T08:00:00"},{"index":2,"laps":2,"recorded_points":0,"start":"2026-07-03T07:00:00"}]}' \
    "^$" --json "${watch[@]}" workouts list
dl="$scratch/downloads"
check "download: GPX into the folder, with --raw" 0 "$dl/2026-07-01T10-50-00.gpx
$dl/2026-07-02T08-00-00.gpx
$dl/2026-07-03T07-00-00.gpx" "^$" --raw "$scratch/raw-dl" "${watch[@]}" workouts download --out "$dl"
expect "download: gpsbabel reads session 0's 300 points, across the sector and the hour" \
    test "$(read_back gpx "$dl/2026-07-01T10-50-00.gpx")" = "$want0"
expect "download: well-formed GPX" xmllint --noout "$dl"/*.gpx
check "download: TCX" 0 "$dl/2026-07-01T10-50-00.tcx
$dl/2026-07-02T08-00-00.tcx
$dl/2026-07-03T07-00-00.tcx" "^$" "${watch[@]}" workouts download --format tcx --out "$dl"
expect "download: gpsbabel reads the same from the TCX" \
    test "$(read_back gtrnctr "$dl/2026-07-01T10-50-00.tcx")" = "$want0"
expect "download: well-formed TCX" xmllint --noout "$dl"/*.tcx
check "download: JSON" 0 "$dl/2026-07-01T10-50-00.json
$dl/2026-07-02T08-00-00.json
$dl/2026-07-03T07-00-00.json" "^$" "${watch[@]}" workouts download --format json --out "$dl"
expect "download: the JSON export has the same points" \
    test "$(from_json "$dl/2026-07-01T10-50-00.json")" = "$want0"
expect "download: session 1's time-only record keeps the last position" \
    test "$(jq -c '[.points[2].record_type, .points[2].time, .points[2].longitude_e7]' "$dl/2026-07-02T08-00-00.json")" = '[2,"2026-07-02T08:00:20",-1000100]'
expect "--raw: the session blocks and the end" test -f "$scratch/raw-dl/2008-001.bin" -a -f "$scratch/raw-dl/2007-000.bin"
check "--raw blocks convert to the same GPX" 0 "$scratch/reconv/2026-07-01T10-50-00.gpx" "^$" \
    workouts convert --out "$scratch/reconv" "$scratch/raw-dl/2008-000.bin"
expect "--raw blocks convert to the same GPX: identical" \
    same "$scratch/reconv/2026-07-01T10-50-00.gpx" "$dl/2026-07-01T10-50-00.gpx"
check "download --new: nothing new the second time" 0 "" "no new workouts \(3 already downloaded\)" \
    "${watch[@]}" workouts download --new --out "$dl"
check "download --new in a format not yet downloaded: every session in it" 0 "$scratch/fmt/2026-07-01T10-50-00.fit
$scratch/fmt/2026-07-02T08-00-00.fit
$scratch/fmt/2026-07-03T07-00-00.fit" "^$" "${watch[@]}" workouts download --new --format fit --out "$scratch/fmt"
check "download --new, GPX after FIT: the GPX files all the same" 0 "$scratch/fmt/2026-07-01T10-50-00.gpx
$scratch/fmt/2026-07-02T08-00-00.gpx
$scratch/fmt/2026-07-03T07-00-00.gpx" "^$" "${watch[@]}" workouts download --new --out "$scratch/fmt"
check "download --select 1,0: in that order" 0 "$scratch/sel/2026-07-02T08-00-00.gpx
$scratch/sel/2026-07-01T10-50-00.gpx" "^$" "${watch[@]}" workouts download --select 1,0 --out "$scratch/sel"
check "download --select 1,1: one file" 0 "$scratch/twice/2026-07-02T08-00-00.gpx" "^$" \
    "${watch[@]}" workouts download --select 1,1 --out "$scratch/twice"
check "download --select 7: no such session" 1 "" "^error 0x1006 " "${watch[@]}" workouts download --select 7 --out "$scratch/none"
expect "download --select 7: no file" test -z "$(ls -A "$scratch/none")"
run=("$tool")
cp "$image" "$scratch/workouts-kept.bin"
check "download --select 1 --clear --yes: the file, then the whole watch erased" 0 \
    "$scratch/cleared/2026-07-02T08-00-00.gpx" "erases every session on the watch, not only the selected" \
    --yes "${watch[@]}" workouts download --select 1 --clear --out "$scratch/cleared"
check "after --clear the watch holds no workouts" 0 "no workouts on the watch" "^$" "${watch[@]}" workouts list
check "download of an empty watch: a friendly message" 0 "" "^no workouts on the watch$" \
    "${watch[@]}" workouts download --out "$scratch/empty"
cp "$scratch/workouts-kept.bin" "$image"
check "clear --yes" 0 "" "every workout on the watch erased" "${watch[@]}" workouts clear --yes
check "after clear the watch holds no workouts" 0 '{"workouts":[]}' "^$" --json "${watch[@]}" workouts list
cp "$scratch/workouts-kept.bin" "$image"
asked=$(printf 'y\n' | script -qec "$tool ${watch[*]} workouts clear" /dev/null | tr -d '\r' | tr '\n' ' ')
expect "clear on a terminal: Yes erases ($asked)" grep -q "\[y/N\] .*every workout on the watch erased" <<<"$asked"
check "after Yes the watch holds no workouts" 0 '{"workouts":[]}' "^$" --json "${watch[@]}" workouts list

# ---- The simulator's own realistic workouts, downloaded in the four formats:
# gpsbabel finds in the GPX, the TCX and the FIT what the JSON export holds
# (FIT's positions within its resolution of about 1e-7 degrees).
real="$scratch/realistic"
run=(env TZ=America/Los_Angeles "$tool")
for format in gpx tcx json fit; do
    "${run[@]}" --simulate workouts download --format "$format" --out "$real" >"$scratch/real-$format.out" 2>"$scratch/err"
    expect "realistic watch: download as $format ($(cat "$scratch/err"))" test $? = 0 -a -s "$scratch/real-$format.out"
done
run=("$tool")
expect "realistic watch: one file per session in each format" \
    test "$(sed 's/\.gpx$//' "$scratch/real-gpx.out")" = "$(sed 's/\.tcx$//' "$scratch/real-tcx.out")" \
    -a "$(sed 's/\.gpx$//' "$scratch/real-gpx.out")" = "$(sed 's/\.json$//' "$scratch/real-json.out")" \
    -a "$(sed 's/\.gpx$//' "$scratch/real-gpx.out")" = "$(sed 's/\.fit$//' "$scratch/real-fit.out")"
close_points() {  # time,lat,lon files: the same times, positions within 1e-6 degrees
    paste -d, "$1" "$2" | awk -F, 'NF != 6 || $1 != $4 || ($2 - $5)^2 > 1e-12 || ($3 - $6)^2 > 1e-12 { bad = 1 } END { exit bad }'
}
while read -r json; do
    stem=${json%.json}
    from_json "$json" >"$scratch/want"
    expect "realistic $(basename "$stem"): GPX read back as the JSON says ($(wc -l <"$scratch/want") points)" \
        same <(read_back gpx "$stem.gpx") "$scratch/want"
    expect "realistic $(basename "$stem"): TCX read back as the JSON says" \
        same <(read_back gtrnctr "$stem.tcx") "$scratch/want"
    expect "realistic $(basename "$stem"): FIT read back as the JSON says" \
        close_points <(read_back garmin_fit "$stem.fit") "$scratch/want"
    expect "realistic $(basename "$stem"): the index records the FIT file" \
        grep -qE "^[0-9a-f]{64} fit $(basename "$stem").fit$" "$real/.stridelog-downloads"
done <"$scratch/real-json.out"
expect "realistic watch: some session has track points" test -n "$(cat "$real"/*.json | jq -r '.points[] | select(.has_position) | 1' | head -n 1)"
expect "realistic watch: well-formed GPX and TCX" xmllint --noout "$real"/*.gpx "$real"/*.tcx
check "realistic watch: --new finds nothing new" 0 "" "no new workouts" \
    --simulate workouts download --new --out "$real"

# The set-up documents. A malformed file is refused, naming the field, before
# the watch is touched.
paths_doc='{"paths":[{"index":0,"name":"Straße","waypoints":[]}]}'
printf '%s' "$paths_doc" >"$scratch/bad-paths.json"
check "paths set: too few paths" 2 "" "bad-paths.json: paths: 10 entries expected, not 1; nothing written" \
    paths set "$scratch/bad-paths.json"
printf '{"views":' >"$scratch/bad-views.json"
check "views set: not JSON" 2 "" "bad-views.json is not JSON" views set "$scratch/bad-views.json"
printf '{"f94_or_f12d":4}' >"$scratch/bad-settings.json"
check "settings set: a field out of range" 2 "" "f94_or_f12d: at most 3; nothing written" \
    settings set "$scratch/bad-settings.json"
check "set-time: no 29 February in 2013" 2 "" "not \"2013-02-29T12:00:00\"" set-time 2013-02-29T12:00:00
check "set-time: not a time" 2 "" "YYYY-MM-DDTHH:MM:SS" set-time tomorrow

# Round trips against the simulated watch, once the SDK reads and writes the
# set-up; until then its entry points end without data and these are skipped.
paths_now=$("$tool" --simulate paths get 2>/dev/null)
if [ -n "$paths_now" ] && [ "$(jq '.paths | length' <<<"$paths_now" 2>/dev/null)" = 10 ]; then
    setup_image="$scratch/setup.bin"
    "$sim_exe" --generate "$setup_image"
    cp "$setup_image" "$scratch/setup-before.bin"
    setup=(--simulate --sim-image "$setup_image")
    check "paths get --out" 0 "" "^" "${setup[@]}" paths get --out "$scratch/paths.json"
    expect "paths: ten, one of 99 waypoints, one empty, accented names" test \
        "$(jq -c '[(.paths | length), ([.paths[] | select((.waypoints | length) == 99)] | length), ([.paths[] | select(.waypoints == [])] | length), ([.paths[].name | select(test("[éüñë]"))] | length >= 3)]' "$scratch/paths.json")" = '[10,1,1,true]'
    check "paths set of what get wrote" 0 "" "^" "${setup[@]}" paths set "$scratch/paths.json"
    for s in 0 249 250 251 252 253 254; do
        expect "paths get then set leaves sector $s as it was" \
            same <(sector_of "$setup_image" $s) <(sector_of "$scratch/setup-before.bin" $s)
    done
    jq '.paths[0].name = "Changed"' "$scratch/paths.json" >"$scratch/paths2.json"
    check "paths set of an edited name, read back" 0 "" "^" "${setup[@]}" paths set "$scratch/paths2.json"
    expect "paths get shows the edit" test "$("$tool" "${setup[@]}" paths get | jq -r '.paths[0].name')" = Changed
    for what in settings views; do
        check "$what get --out" 0 "" "^" "${setup[@]}" "$what" get --out "$scratch/$what.json"
        check "$what set of what get wrote" 0 "" "^" "${setup[@]}" "$what" set "$scratch/$what.json"
        "$tool" "${setup[@]}" "$what" get >"$scratch/$what-again.json"
        expect "$what: get after set reads the same" same "$scratch/$what.json" "$scratch/$what-again.json"
    done
    expect "settings set keeps a valid checksum" test "$(sector_of "$setup_image" 0 | head -c 224 | od -An -tu1 -v | awk 'NR == 1 { print $1 + $2 }')" = 255
    check "set-time to a leap day" 0 "" "^" "${setup[@]}" set-time 2012-02-29T23:59:30
    check "set-time now" 0 "" "^" "${setup[@]}" set-time
else
    echo "notice: the SDK does not read paths yet; set-up round trips skipped"
fi

# ---- A-GPS data from a read-only FTP server on loopback.
ftp="$scratch/ftp"
mkdir -p "$ftp/root/agps" "$ftp/root/short"
password="Orbit-Pa55-7days"
printf '%s\n' "$password" >"$ftp/password"
printf 'not-the-Pa55\n' >"$ftp/wrong"
chmod 600 "$ftp/password" "$ftp/wrong"
head -c 53760 /dev/urandom >"$ftp/root/agps/MTK7d.EPO"
# The watch takes only a date after its own (today): the file's issue date is today.
date +%F >"$ftp/root/agps/datetime.txt"
expiry=$(date -d "$(date +%F) + 7 days" +%F)
loaded="A-GPS data loaded; it expires on $expiry"
head -c 53000 /dev/urandom >"$ftp/root/short/MTK7d.EPO"
cp "$ftp/root/agps/datetime.txt" "$ftp/root/short/datetime.txt"
ftp_script="$(dirname "$0")/../../scripts/loopback-ftp-server.py"
start_ftp() {  # name, [bytes per second]: a server whose port lands in $ftp/<name>.port
    /usr/bin/python3 "$ftp_script" "$ftp/root" "$ftp/$1.port" stride "$ftp/password" "$ftp/$1.log" "${2:-0}" &
    echo $! >"$ftp/$1.pid"
    for _ in $(seq 200); do [ -s "$ftp/$1.port" ] && break; sleep 0.05; done
}
stop_ftp() {  # every server still running; each pid file goes with its server
    local pid
    for pid in "$ftp"/*.pid; do
        [ -f "$pid" ] || continue
        kill "$(cat "$pid")" 2>/dev/null
        wait "$(cat "$pid")" 2>/dev/null
        rm -f "$pid"
    done
}
trap 'stop_ftp; rm -rf "$scratch"' EXIT
start_ftp fast
start_ftp slow 20000  # 53760 bytes in about 2.7 s
port=$(cat "$ftp/fast.port")
account=(--server "127.0.0.1:$port" --user stride --password-file "$ftp/password" --folder agps)
documents() { run=(env XDG_DOCUMENTS_DIR="$scratch/documents-$1" "$tool"); }  # a fresh download folder
expect "the FTP servers listen" test -n "$port" -a -s "$ftp/slow.port"

documents loaded
check "agps: downloaded and written, expiry = datetime.txt + 7 days" 0 \
    "$loaded" "writing to the watch 100%" \
    --raw "$scratch/agps-raw" --simulate --sim-image "$scratch/agps.bin" agps "${account[@]}"
expect "agps: the download's progress reached 100%" grep -qE "^downloading +100%" "$scratch/err"
expect "agps: the files in the download folder" \
    same "$scratch/documents-loaded/Stride Log/MTK7d.EPO" "$ftp/root/agps/MTK7d.EPO"
at() { dd if="$1" bs=1 skip="$2" count="$3" status=none | hex_of; }  # image, offset, count
expiry_bytes() { printf '%02x%02x%02x' $((10#$(date -d "$expiry" +%"$1"))) $((10#$(date -d "$expiry" +%"$2"))) $((10#$(date -d "$expiry" +%"$3"))); }
expect "agps: the expiry date in directory bytes 112..114 (day, month, year - 2000)" \
    test "$(at "$scratch/agps.bin" 112 3)" = "$(expiry_bytes d m y)"
expect "agps: packet 0 at sector 230 carries the orbit file's first 180 bytes" \
    test "$(at "$scratch/agps.bin" $((230 * 4096)) 8)" = 0424bf00d2020000 -a \
    "$(at "$scratch/agps.bin" $((230 * 4096 + 8)) 180)" = "$(head -c 180 "$ftp/root/agps/MTK7d.EPO" | hex_of)"
expect "agps: packet 297 carries the orbit bytes 53460..53639" \
    test "$(at "$scratch/agps.bin" $((230 * 4096 + 297 * 191 + 8)) 180)" = "$(tail -c +53461 "$ftp/root/agps/MTK7d.EPO" | head -c 180 | hex_of)"
expect "agps: the end packet 300th, in sector 243" \
    test "$(at "$scratch/agps.bin" $((230 * 4096 + 299 * 191)) 8)" = 0424bf00d202ffff
expect "--raw: the 3-byte expiry block (year - 2000, month, day)" test "$(hex_of <"$scratch/agps-raw/2018-000.bin")" = "$(expiry_bytes y m d)"
phases() { local f; for f in "$scratch/agps-raw"/2023-*.bin; do od -An -tu4 -N4 "$f"; done | tr -d ' ' | uniq | tr '\n' ' '; }
expect "--raw: download phase 1, then writing phase 2 ($(phases))" test "$(phases)" = "1 2 "
last_phase=$(ls "$scratch/agps-raw"/2023-*.bin | tail -n 1)
expect "--raw: the last phase block is phase 2 at 100.0" test "$(hex_of <"$last_phase")" = 020000000000c842
check "agps again: the watch's data is up to date" 0 "A-GPS data is up to date" "^" \
    --simulate --sim-image "$scratch/agps.bin" agps "${account[@]}"
expect "the orbit file was fetched once" test "$(grep -c "RETR MTK7d.EPO" "$ftp/fast.log")" = 1
settings_expiry=$("$tool" --simulate --sim-image "$scratch/agps.bin" settings get 2>/dev/null |
    jq -c '[.agps_expiry, .agps_expiry_year_minus_2000, .agps_expiry_month, .agps_expiry_day]')
expect "settings get shows the expiry ($settings_expiry)" test "$settings_expiry" = \
    "[\"$expiry\",$((10#$(date -d "$expiry" +%y))),$((10#$(date -d "$expiry" +%m))),$((10#$(date -d "$expiry" +%d)))]"

documents json
check "agps --json" 0 "{\"agps\":\"loaded\",\"expiry\":\"$expiry\"}" "^" \
    --json --simulate --sim-image "$scratch/agps-json.bin" agps "${account[@]}"
check "agps --json, up to date" 0 '{"agps":"up_to_date"}' "^" \
    --json --simulate --sim-image "$scratch/agps-json.bin" agps "${account[@]}"
documents active
check "agps --active" 0 "$loaded" "^" \
    --simulate --sim-image "$scratch/agps-active.bin" agps "${account[@]}" --active
expect "--active: the server was given a data port (EPRT or PORT)" grep -qE -- "<- (EPRT|PORT) " "$ftp/fast.log"
documents show
check "agps --show: the task window on the terminal" 0 "$loaded" "^" \
    --show --simulate agps "${account[@]}"

# What goes wrong: one exit status per error code (10 + its last two digits).
documents wrong-password
check "agps: wrong password" 18 "" "^error 0x1008 SDK_ERR_DOWNLOAD: the download from the FTP server failed" \
    --simulate agps "${account[@]}" --password-file "$ftp/wrong"
documents no-folder
check "agps: no such folder on the server" 18 "" "^error 0x1008 SDK_ERR_DOWNLOAD: " \
    --simulate agps "${account[@]}" --folder no-such-folder
documents no-server
check "agps: no server on that port" 18 "" "^error 0x1008 " \
    --simulate agps "${account[@]}" --server 127.0.0.1:1
documents short
check "agps: a server's orbit file shorter than 53760 bytes fails the download" 18 "" "^error 0x1008 " \
    --simulate agps "${account[@]}" --folder short
# An orbit file from today in the download folder is used without a download;
# a 107520-byte one (two weeks) is not what the watch takes.
documents stale
mkdir -p "$scratch/documents-stale/Stride Log"
head -c 107520 /dev/urandom >"$scratch/documents-stale/Stride Log/MTK7d.EPO"
check "agps: today's orbit file of another length" 21 "" "^error 0x1011 SDK_ERR_AGPS_SIZE: MTK7d.EPO is not 53760 bytes" \
    --simulate agps "${account[@]}"
run=(env XDG_DOCUMENTS_DIR=relative-documents "$tool")
check "agps: a relative documents folder is named in a note" 18 "" \
    "note: XDG_DOCUMENTS_DIR is \"relative-documents\", not an absolute path" --simulate agps "${account[@]}"
documents slow
check "agps: a slow download over its --limit" 24 "" "^error 0x1014 SDK_ERR_DOWNLOAD_TIMEOUT: the download did not finish within 1 s" \
    --simulate agps "${account[@]}" --server "127.0.0.1:$(cat "$ftp/slow.port")" --limit 1
documents slow-enough
check "agps: the slow download within its --limit" 0 "$loaded" "^" \
    --simulate agps "${account[@]}" --server "127.0.0.1:$(cat "$ftp/slow.port")" --limit 15
# Ctrl-C mid-download: the task ends (its download stopped), the simulator with it.
documents interrupted
set -m
"${run[@]}" --simulate agps "${account[@]}" --server "127.0.0.1:$(cat "$ftp/slow.port")" 2>"$scratch/agps-cut.err" &
pid=$!
set +m
for _ in $(seq 100); do grep -q "downloading" "$scratch/agps-cut.err" && break; sleep 0.05; done
sleep 0.5
sim_pid=$(cat /proc/"$pid"/task/*/children 2>/dev/null | tr -d ' ')
start=$(date +%s%N)
kill -INT "$pid" 2>/dev/null
wait "$pid"
rc=$?
ms=$((($(date +%s%N) - start) / 1000000))
expect "agps: Ctrl-C mid-download ends with 130 within 2 s (status $rc, $ms ms)" test "$rc" = 130 -a "$ms" -lt 2000
expect "agps: Ctrl-C mid-download: the simulator child is gone" test -n "$sim_pid" -a ! -e "/proc/$sim_pid"
"$sim_exe" --device-map "$scratch/refusing.map" --status-flag 0 >"$scratch/refusing.pty" 2>/dev/null &
refusing_pid=$!
for _ in $(seq 100); do [ -s "$scratch/refusing.pty" ] && break; sleep 0.05; done
run=(env STRIDELOG_DEVICE_MAP="$scratch/refusing.map" XDG_DOCUMENTS_DIR="$scratch/documents-refused" "$tool")
check "agps: a watch that cannot take A-GPS data" 17 "" "^error 0x1007 SDK_ERR_AGPS_REFUSED: " agps "${account[@]}"
kill "$refusing_pid"
wait "$refusing_pid"
expect "agps refused: nothing downloaded" absent "$scratch/documents-refused"
documents usage
check "agps: no cable" 10 "" "^error 0x1000 SDK_ERR_NO_PORT: no watch cable found" agps "${account[@]}"
check "agps without a server" 2 "" "no FTP server: pass --server" agps
check "agps: a server with a bad port" 2 "" "HOST or HOST:PORT" agps --server 127.0.0.1:70000
check "agps --limit 0" 2 "" "--limit is a whole number of seconds" agps --server h --limit 0
check "agps --passive --active" 2 "" "excludes" agps --server h --passive --active
chmod 644 "$ftp/password"
check "agps: a password file others can read is refused" 2 "" "password has mode 0644, so others can read it" \
    agps "${account[@]}"
chmod 600 "$ftp/password"

# Defaults from the config file, written owner-only.
config="$XDG_CONFIG_HOME/stridelog/config.ini"
documents config
check "config set agps.server" 0 "" "^$" config set agps.server "127.0.0.1:$port"
check "config set agps.user" 0 "" "^$" config set agps.user stride
check "config set agps.folder" 0 "" "^$" config set agps.folder agps
check "config set agps.password_file" 0 "" "^$" config set agps.password_file "$ftp/password"
expect "config file: mode 600" test "$(stat -c %a "$config")" = 600
expect "config folder: mode 700" test "$(stat -c %a "$(dirname "$config")")" = 700
check "config show" 0 "# $config
agps.folder = agps
agps.password_file = $ftp/password
agps.server = 127.0.0.1:$port
agps.user = stride" "^$" config show
check "agps with the config's account" 0 "$loaded" "^" \
    --simulate --sim-image "$scratch/agps-config.bin" agps
documents config-overridden
check "the command line over the config" 18 "" "^error 0x1008 " --simulate agps --folder no-such-folder
printf '%s\n' "$password" | "$tool" config set agps.password
expect "config set agps.password from standard input" test $? = 0
check "config unset agps.password_file" 0 "" "^$" config unset agps.password_file
check "config show hides the password" 0 "# $config
agps.folder = agps
agps.password = (hidden)
agps.server = 127.0.0.1:$port
agps.user = stride" "^$" config show
expect "config file: still mode 600" test "$(stat -c %a "$config")" = 600
documents config-password
check "agps with the password from the config" 0 "$loaded" "^" \
    --simulate agps
chmod 644 "$config"
check "a config others can read: its password is refused" 2 "" "config.ini has mode 0644, so others can read it" agps
check "config show warns about it" 0 "# $config
agps.folder = agps
agps.password = (hidden)
agps.server = 127.0.0.1:$port
agps.user = stride" "warning: .*config.ini has mode 0644" config show
check "config set closes it again" 0 "" "^$" config set agps.limit 60
expect "config file: mode 600 after a set" test "$(stat -c %a "$config")" = 600
check "config set agps.password on the command line" 2 "" "standard input, not on the command line" \
    config set agps.password "$password"
printf 'ab ;cd\n' | "$tool" config set agps.password 2>"$scratch/err"
expect "config set: a password the file would cut is refused" test $? = 2 -a -n "$(grep "takes for a comment" "$scratch/err")"
check "config set: an unknown key" 2 "" "unknown key agps.colour" config set agps.colour red
check "config set: a bad mode" 2 "" "passive or active" config set agps.mode fast
expect "config: the limit kept" grep -qx "limit = 60" "$config"
typed=$({ sleep 1; printf 'Typed-Secret-1\n'; } | script -qec "$tool config set agps.password" /dev/null | tr -d '\r')
expect "config set agps.password on a terminal: asked, not echoed ($typed)" \
    test -n "$(grep "FTP password:" <<<"$typed")" -a -z "$(grep "Typed-Secret-1" <<<"$typed")"
expect "config set agps.password on a terminal: stored" grep -qx "password = Typed-Secret-1" "$config"
printf '[agps]\nserver = a\nserver = b\n' >"$config"
check "agps: a config with a key twice" 2 "" "agps.server is given twice" agps
rm -f "$config"
stop_ftp

# With the SDK's diagnostic switch on, its status log goes to a file: it names
# the server, never the password.
mkdir -p "$scratch/debug-config/stridelog"
printf '%s' '{"version":1,"root":{"values":[],"keys":[{"name":"SOFTWARE","values":[],"keys":[{"name":"Tempolink","keys":[],"values":[{"name":"DebugView","type":1,"text":"1"}]}]}]}}' \
    >"$scratch/debug-config/stridelog/registry"
start_ftp debug
debug_run=(env XDG_CONFIG_HOME="$scratch/debug-config" STRIDELOG_DEBUG_FILE="$scratch/debug.log" "$tool" --simulate agps
    "${account[@]}" --server "127.0.0.1:$(cat "$ftp/debug.port")")
XDG_DOCUMENTS_DIR="$scratch/documents-debug" "${debug_run[@]}" >>"$scratch/transcript" 2>&1
expect "agps with the diagnostic switch: loaded" test $? = 0
XDG_DOCUMENTS_DIR="$scratch/documents-debug-wrong" "${debug_run[@]}" --password-file "$ftp/wrong" >>"$scratch/transcript" 2>&1
expect "agps with the diagnostic switch, wrong password: 18" test $? = 18
expect "the diagnostic output names the server" grep -q "Site : 127.0.0.1:" "$scratch/debug.log"
stop_ftp

nowhere() { [ -s "$1" ] && ! grep -rqaF -- "$password" "$@" && ! grep -rqaF -- "not-the-Pa55" "$@"; }
expect "the FTP passwords are in no output, no --raw block, no diagnostic line" \
    nowhere "$scratch/transcript" "$scratch/agps-raw" "$scratch/debug.log"

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
