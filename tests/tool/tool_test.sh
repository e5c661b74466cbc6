#!/usr/bin/env bash
# The host tool as a user runs it: output, exit status, the error line, the
# files it writes, and what it leaves behind.
tool="$1"
. "$(dirname "$0")/lib.sh"
size_is() { [ -f "$1" ] && [ "$(stat -c %s "$1")" = "$2" ]; }

# A watch whose flash is random but for its long version text at 96 of sector 0.
long_version="1.31.02_VUNA0_00"
head -c 1048576 /dev/urandom >"$scratch/expected.bin"
printf '%s' "$long_version" | dd of="$scratch/expected.bin" bs=1 seek=96 conv=notrunc status=none
cp "$scratch/expected.bin" "$scratch/watch.bin"  # the simulator saves to it on exit
watch=(--simulate --sim-image "$scratch/watch.bin")

checks <<ROWS
sdk version | 0 | SDK73688,2.0.11.260 | ^ | sdk-version
sdk version as JSON | 0 | {"sdk_version":"SDK73688,2.0.11.260"} | ^ | --json sdk-version
no cable: empty port list | 0 |  | ^ | ports
no cable: the error notification | 1 |  | ^error 0x1000 SDK_ERR_NO_PORT: no serial port of the watch's cable exists | version
simulated watch over a pty | 0 | Ver1.30 | ^ | --simulate version
progress on stderr keeps JSON clean | 0 | {"version":"Ver1.30"} | 100% | --simulate --show --json version
no command | 2 |  | subcommand |
two presenters at once | 2 |  | pick one | --show --window-png $scratch/w.png version
long version of an erased flash | 0 | <FF> | ^ | --simulate --sim-image $scratch/erased.bin long-version
long version from the flash | 0 | $long_version | ^ | ${watch[*]} long-version
long version as JSON | 0 | {"long_version":"$long_version"} | ^ | --json ${watch[*]} long-version
read-sector 256 is a usage error | 2 |  | sector number is 0 to 255 | read-sector 256
read-sector 1000 is a usage error | 2 |  | sector number is 0 to 255 | read-sector 1000
read-sector -1 is a usage error | 2 |  | sector number is 0 to 255 | read-sector -1
read-sector 3x is a usage error | 2 |  | sector number is 0 to 255 | read-sector 3x
read-sector needs its number | 2 |  | N is required | read-sector
backup needs --out | 2 |  | --out is required | backup
--sim-image needs --simulate | 2 |  | requires --simulate | --sim-image $scratch/watch.bin version
no cable: read-sector fails with the error notification | 1 |  | ^error 0x1000 SDK | read-sector 0
read-sector 0 --out | 0 |  | ^ | ${watch[*]} read-sector 0 --out $scratch/s0.bin
ROWS
check "read-sector '' is a usage error" 2 "" "sector number is 0 to 255" read-sector ""

# Sector bytes: to a file, as a hex dump, as JSON, and as --raw keeps them.
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
expect "backup: no part file left" absent "$scratch/image.bin.part"
check "no cable: backup fails on sector 0" 1 "" "^error 0x1000 " backup --out "$scratch/none.bin"
expect "failed backup: no image, no part file" test ! -e "$scratch/none.bin" -a ! -e "$scratch/none.bin.part"

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
expect "Ctrl-C mid-backup: no image, no part file" test ! -e "$scratch/cut.bin" -a ! -e "$scratch/cut.bin.part"

# A watch that never answers (a stopped simulator): Ctrl-C ends the task that
# waits for it at once, rather than after the version retries (9 s).
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

# ---- Workouts of the simulator's realistic watch: six sessions, the fourth
# without track points. The last is the one under tests/data/, written there at
# +01:00, Berlin's winter time: what the tool writes must be those files.
golden="$(dirname "$0")/../data/realistic-session-5"
names=(2026-03-02T06-40-32 2026-03-04T17-13-55 2026-03-07T23-30-05 2026-03-10T19-02-44
    2026-03-14T09-05-30 2026-03-15T18-00-03)
listing() { printf "$1/%s.$2\n" "${names[@]}"; }  # folder, extension: every session's file
image="$scratch/workouts.bin"
"$sim_exe" --generate "$image"
cp "$image" "$scratch/workouts-kept.bin"
watch=(--simulate --sim-image "$image")
run=(env TZ=Europe/Berlin "$tool")
check "workouts list" 0 @workouts-list.txt "^$" "${watch[@]}" workouts list
check "workouts list with --raw" 0 @workouts-list.txt "^$" --raw "$scratch/raw-list" "${watch[@]}" workouts list
expect "--raw: the summary block, 4 + 6 x 48 bytes, the headers as stored" \
    test "$(stat -c %s "$scratch/raw-list/2009-000.bin")" = 292 -a \
    "$(tail -c 48 "$scratch/raw-list/2009-000.bin" | hex_of)" = "$(jq -r .header "$golden.json")"
check "workouts list as JSON" 0 @workouts-list.json "^$" --json "${watch[@]}" workouts list
dl="$scratch/downloads"
check "download: GPX into the folder, with --raw" 0 "$(listing "$dl" gpx)" "^$" \
    --raw "$scratch/raw-dl" "${watch[@]}" workouts download --out "$dl"
# --new is per format: after the GPX download every session comes again in another.
for format in tcx json fit; do
    check "download --new --format $format after GPX: every session in it" 0 "$(listing "$dl" $format)" "^$" \
        "${watch[@]}" workouts download --new --format "$format" --out "$dl"
done
for format in gpx tcx json fit; do
    expect "download: the last session as $format is the golden file" same "$dl/${names[5]}.$format" "$golden.$format"
done
expect "download: well-formed GPX and TCX" xmllint --noout "$dl"/*.gpx "$dl"/*.tcx
check "download --new: nothing new the second time" 0 "" "no new workouts \(6 already downloaded\)" \
    "${watch[@]}" workouts download --new --out "$dl"
# The folder's index: each session's identity is the SHA-256 of its block's first 60 bytes.
block5="$scratch/raw-dl/2008-004.bin"
identity=$(jq -r .identity "$golden.json")
expect "--raw: the last session's block, whose first 60 bytes hash to its identity" \
    test "$(head -c 60 "$block5" | sha256sum | cut -d' ' -f1)" = "$identity"
expect "index: the last session under its identity in each format" \
    test "$(grep -cE "^$identity (gpx|tcx|json|fit) ${names[5]}\.(gpx|tcx|json|fit)$" "$dl/.stridelog-downloads")" = 4

# The same blocks converted: with --utc-offset the golden file again, whatever the host's zone.
conv="$scratch/converted"
run=(env TZ=America/Los_Angeles "$tool")
check "convert --utc-offset +01:00" 0 "$conv/${names[5]}.gpx" "^$" \
    workouts convert --utc-offset +01:00 --out "$conv" "$block5"
expect "convert --utc-offset +01:00: the golden file" same "$conv/${names[5]}.gpx" "$golden.gpx"
# Other sessions of the same start: the block with another header byte (not the start).
other() { cp "$block5" "$scratch/$1.bin"; printf "\\x$2" | dd of="$scratch/$1.bin" bs=1 seek=59 conv=notrunc status=none; }
other b 77
other c 78
check "convert: a suffix for another session of the same start" 0 "$conv/${names[5]}_2.gpx" "^$" \
    workouts convert --out "$conv" "$scratch/b.bin"
run=(env TZ=America/New_York "$tool")
check "--new in another time zone: nothing new" 0 "" "no new workouts \(2 already downloaded\)" \
    workouts convert --new --out "$conv" "$block5" "$scratch/b.bin"
check "--new as JSON" 0 '{"files":[],"skipped":2}' "^" --json workouts convert --new --out "$conv" "$block5" "$scratch/b.bin"
check "the same sessions again keep their names" 0 "$conv/${names[5]}_2.gpx
$conv/${names[5]}.gpx" "^$" workouts convert --out "$conv" "$scratch/b.bin" "$block5"
check "a new session with a taken start does not overwrite" 0 "$conv/${names[5]}_3.gpx" "^$" \
    workouts convert --new --out "$conv" "$scratch/c.bin"
run=("$tool")
full=$(stat -c %s "$block5")
head -c $((full - 25)) "$block5" >"$scratch/cut.bin"
check "a truncated block: error, exit 1" 1 "" "cut.bin cannot be read: track block of $((full - 25)) bytes, not the $full" \
    workouts convert --out "$scratch/cut" "$scratch/cut.bin"
expect "a truncated block: nothing written" test -z "$(ls -A "$scratch/cut")"
check "--select '' is a usage error" 2 "" "--select takes session indices" workouts download --select ""
checks <<ROWS
--format must be known | 2 |  | --format is gpx, tcx, json or fit | workouts convert --format kml $block5
--utc-offset must be +HH:MM | 2 |  | --utc-offset is | workouts convert --utc-offset 2 $block5
--select 3,,0 is a usage error | 2 |  | --select takes session indices | workouts download --select 3,,0
--select 256 is a usage error | 2 |  | --select takes session indices | workouts download --select 256
--select a is a usage error | 2 |  | --select takes session indices | workouts download --select a
--select 1,-1 is a usage error | 2 |  | --select takes session indices | workouts download --select 1,-1
ROWS

# Selections, and erasing: asked on a terminal, refused without one.
check "download --select 1,0: in that order" 0 "$scratch/sel/${names[1]}.gpx
$scratch/sel/${names[0]}.gpx" "^$" "${watch[@]}" workouts download --select 1,0 --out "$scratch/sel"
check "download --select 1,1: one file" 0 "$scratch/twice/${names[1]}.gpx" "^$" \
    "${watch[@]}" workouts download --select 1,1 --out "$scratch/twice"
check "download --select 7: no such session" 1 "" "^error 0x1006 " "${watch[@]}" workouts download --select 7 --out "$scratch/none"
expect "download --select 7: no file" test -z "$(ls -A "$scratch/none")"
checks <<ROWS
clear without a terminal nor --yes | 2 |  | no terminal to ask on; pass --yes | workouts clear
download --clear without a terminal nor --yes | 2 |  | no terminal to ask on | workouts download --clear --out $scratch/dl
--select with --clear says the whole watch is erased | 2 |  | erases every session on the watch | workouts download --select 1 --clear --out $scratch/dl
ROWS
asked=$(printf 'n\n' | script -qec "$tool ${watch[*]} workouts clear" /dev/null | tr -d '\r' | tr '\n' ' ')
expect "clear on a terminal asks, and No erases nothing ($asked)" \
    grep -q "Erase every workout on the watch? \[y/N\] .*nothing erased" <<<"$asked"
expect "after No the watch keeps its workouts" same "$image" "$scratch/workouts-kept.bin"
check "download --select 1 --clear --yes: the file, then the whole watch erased" 0 \
    "$scratch/cleared/${names[1]}.gpx" "erases every session on the watch, not only the selected" \
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

# Round trips against the simulated watch.
setup_image="$scratch/setup.bin"
cp "$scratch/workouts-kept.bin" "$setup_image"
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

# ---- A-GPS data from a read-only FTP server on loopback.
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
start_ftp fast
start_ftp slow 20000  # 53760 bytes in about 2.7 s
port=$(cat "$ftp/fast.port")
account=(--server "127.0.0.1:$port" --user stride --password-file "$ftp/password" --folder agps)
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
expect "--raw: the 3-byte expiry block (year - 2000, month, day)" test "$(hex_of <"$scratch/agps-raw/2018-000.bin")" = "$(expiry_bytes y m d)"
check "agps again: the watch's data is up to date" 0 "A-GPS data is up to date" "^" \
    --simulate --sim-image "$scratch/agps.bin" agps "${account[@]}"
expect "the orbit file was fetched once" test "$(grep -c "RETR MTK7d.EPO" "$ftp/fast.log")" = 1
settings_expiry=$("$tool" --simulate --sim-image "$scratch/agps.bin" settings get 2>/dev/null |
    jq -c '[.agps_expiry, .agps_expiry_year_minus_2000, .agps_expiry_month, .agps_expiry_day]')
expect "settings get shows the expiry ($settings_expiry)" test "$settings_expiry" = \
    "[\"$expiry\",$((10#$(date -d "$expiry" +%y))),$((10#$(date -d "$expiry" +%m))),$((10#$(date -d "$expiry" +%d)))]"

checks <<ROWS
[json] agps --json | 0 | {"agps":"loaded","expiry":"$expiry"} | ^ | --json --simulate --sim-image $scratch/agps-json.bin agps ${account[*]}
agps --json, up to date | 0 | {"agps":"up_to_date"} | ^ | --json --simulate --sim-image $scratch/agps-json.bin agps ${account[*]}
[active] agps --active | 0 | $loaded | ^ | --simulate --sim-image $scratch/agps-active.bin agps ${account[*]} --active
ROWS
expect "--active: the server was given a data port (EPRT or PORT)" grep -qE -- "<- (EPRT|PORT) " "$ftp/fast.log"
documents show
check "agps --show: the task window on the terminal" 0 "$loaded" "^" --show --simulate agps "${account[@]}"

# What goes wrong: one exit status per error code (10 + its last two digits).
checks <<ROWS
[wrong-password] agps: wrong password | 18 |  | ^error 0x1008 SDK_ERR_DOWNLOAD: the download from the FTP server failed | --simulate agps ${account[*]} --password-file $ftp/wrong
[no-folder] agps: no such folder on the server | 18 |  | ^error 0x1008 SDK_ERR_DOWNLOAD:  | --simulate agps ${account[*]} --folder no-such-folder
[no-server] agps: no server on that port | 18 |  | ^error 0x1008 SDK | --simulate agps ${account[*]} --server 127.0.0.1:1
[short] agps: a server's orbit file shorter than 53760 bytes fails the download | 18 |  | ^error 0x1008 SDK | --simulate agps ${account[*]} --folder short
ROWS
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
check "agps --passive --active" 2 "" "excludes" agps --server h --passive --active

# Defaults from the config file, written owner-only.
config="$XDG_CONFIG_HOME/stridelog/config.ini"
documents config
for setting in "server 127.0.0.1:$port" "user stride" "folder agps" "password_file $ftp/password"; do
    check "config set agps.$setting" 0 "" "^$" config set "agps.${setting%% *}" "${setting#* }"
done
expect "config file: mode 600" test "$(stat -c %a "$config")" = 600
shown() { printf '# %s\nagps.folder = agps\n%s\nagps.server = 127.0.0.1:%s\nagps.user = stride' "$config" "$1" "$port"; }
check "config show" 0 "$(shown "agps.password_file = $ftp/password")" "^$" config show
check "agps with the config's account" 0 "$loaded" "^" \
    --simulate --sim-image "$scratch/agps-config.bin" agps
documents config-overridden
check "the command line over the config" 18 "" "^error 0x1008 " --simulate agps --folder no-such-folder
printf '%s\n' "$password" | "$tool" config set agps.password
expect "config set agps.password from standard input" test $? = 0
check "config unset agps.password_file" 0 "" "^$" config unset agps.password_file
check "config show hides the password" 0 "$(shown "agps.password = (hidden)")" "^$" config show
documents config-password
check "agps with the password from the config" 0 "$loaded" "^" \
    --simulate agps
chmod 644 "$config"
check "config show warns about it" 0 "$(shown "agps.password = (hidden)")" "warning: .*config.ini has mode 0644" config show
check "config set closes it again" 0 "" "^$" config set agps.limit 60
expect "config file: mode 600 after a set" test "$(stat -c %a "$config")" = 600
check "config set agps.password on the command line" 2 "" "standard input, not on the command line" \
    config set agps.password "$password"
expect "config: the limit kept" grep -qx "limit = 60" "$config"
typed=$({ sleep 1; printf 'Typed-Secret-1\n'; } | script -qec "$tool config set agps.password" /dev/null | tr -d '\r')
expect "config set agps.password on a terminal: asked, not echoed ($typed)" \
    test -n "$(grep "FTP password:" <<<"$typed")" -a -z "$(grep "Typed-Secret-1" <<<"$typed")"
expect "config set agps.password on a terminal: stored" grep -qx "password = Typed-Secret-1" "$config"
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

finish
