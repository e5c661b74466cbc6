#!/usr/bin/env bash
# stridelog sync as the plug-in service runs it: a simulated watch with
# workouts on a saved flash image, a loopback FTP server with A-GPS data and a
# newer firmware, and the config file a user writes once. First run: the clock,
# every session, the A-GPS data, word of the firmware; second run: nothing but
# checks; an interrupted run loses nothing and the next one completes it.
tool="$1"
. "$(dirname "$0")/lib.sh"
export XDG_DOCUMENTS_DIR="$scratch/documents"
out="$scratch/out"
sync_run() {  # expected status, sync options...: stdout in $out
    local want="$1" rc
    shift
    "$tool" --simulate --sim-image "$scratch/watch.bin" sync "$@" >"$out" 2>"$scratch/err" </dev/null
    rc=$?
    [ "$rc" = "$want" ] || fail "sync $*: status $rc (want $want): $(cat "$out" "$scratch/err")"
}
line() { grep -E "^$1: +" "$out" | sed -E "s/^$1: +//"; }  # the line of one action
folder="$scratch/documents/Stride Log"
files() { find "$folder" -maxdepth 1 -type f \( -name '*.gpx' -o -name '*.fit' \) | sort; }

"$sim_exe" --generate "$scratch/watch.bin" || fail "generating the watch's image"

# ---- Without a cable or an account: what the service says at a plug-in.
"$tool" sync >"$out" 2>"$scratch/err" </dev/null
expect "no cable: exit status 3 (got $?)" test "$(line sync)" = "no watch: the cable is not plugged in"

sync_run 0 --formats gpx
expect "no account: the A-GPS step is skipped and says how to set one" \
    grep -q "skipped: no FTP account (stridelog config set agps.server HOST)" <<<"$(line a-gps)"
expect "no account: six sessions as GPX in the SDK's download folder" test "$(files | wc -l)" = 6
rm -rf "$folder"

# ---- A server with 7-day A-GPS data issued today and a newer firmware.
mkdir -p "$ftp/root/agps" "$ftp/root/fw"
(umask 077 && printf 'Sync-Pa55\n' >"$ftp/password")
head -c 53760 /dev/urandom >"$ftp/root/agps/MTK7d.EPO"
date +%F >"$ftp/root/agps/datetime.txt"
"$sim_exe" --generate-firmware "$ftp/root/fw" --version 1.32.01_A12 >/dev/null ||
    fail "generating the firmware folder"
start_ftp server
server="127.0.0.1:$(cat "$ftp/server.port")"
for section in agps firmware; do
    "$tool" config set "$section.server" "$server" >/dev/null
    "$tool" config set "$section.user" stride >/dev/null
    "$tool" config set "$section.password_file" "$ftp/password" >/dev/null
done
"$tool" config set agps.folder agps >/dev/null
"$tool" config set firmware.folder fw >/dev/null
"$tool" config set sync.formats gpx,fit >/dev/null

expiry=$(date -d "+7 days" +%F)
orbit_downloads() { grep -c 'RETR .*MTK7d.EPO completed=1' "$ftp/server.log"; }
sync_run 0
expect "first run: the clock set to now" grep -qE "^set to $(date +%F) [0-9:]{8}$" <<<"$(line clock)"
expect "first run: six new sessions, twelve files" \
    test "$(line workouts)" = "6 new of 6, 12 files (gpx,fit) in $folder"
expect "first run: the files on disk" test "$(files | wc -l)" = 12
expect "first run: A-GPS data loaded, valid for seven days" \
    test "$(line a-gps)" = "refreshed, valid until $expiry"
expect "first run: the newer firmware reported, not installed" \
    grep -qE '^1\.32\.0?1 is available \(the watch runs Ver1\.30\); `stridelog firmware update` installs it$' <<<"$(line firmware)"
expect "first run: the summary" \
    test "$(line sync)" = "done: clock set, 6 new workouts, A-GPS refreshed, new firmware available"
workout_stat() { stat -c '%Y %n' "$folder"/*.gpx "$folder"/*.fit "$folder/.stridelog-downloads"; }
workout_stat >"$scratch/first.stat"

sync_run 0
expect "second run: nothing new" test "$(line workouts)" = "nothing new (6 already downloaded)"
expect "second run: the A-GPS data left alone" test "$(line a-gps)" = "current until $expiry"
expect "second run: no workout file touched, nor the index" cmp -s "$scratch/first.stat" <(workout_stat)
expect "second run: one A-GPS download in all (the first run's)" \
    test "$(orbit_downloads)" = 1

# Data that runs out within the days asked for: the watch still holds it, and
# says so; data that has run out (its date in directory bytes 112..114 set to
# today, the settings checksum mended) is refreshed.
sync_run 0 --agps-days 10
expect "runs out within 10 days, still valid: the watch keeps it ($(line a-gps))" \
    test "$(line a-gps)" = "current until $expiry; the watch takes new data once this runs out"
byte() { printf "\\x$(printf %02x "$1")"; }
printf "$(byte $((10#$(date +%d))))$(byte $((10#$(date +%m))))$(byte $(($(date +%Y) - 2000)))" |
    dd of="$scratch/watch.bin" bs=1 seek=112 conv=notrunc status=none
sum=$(od -An -tu1 -v -j2 -N222 "$scratch/watch.bin" | tr -s ' ' '\n' | awk '{s += $1} END {print s % 256}')
printf "$(byte "$sum")$(byte $((255 - sum)))" | dd of="$scratch/watch.bin" bs=1 seek=0 conv=notrunc status=none
sync_run 0
expect "run out today: refreshed ($(line a-gps))" test "$(line a-gps)" = "refreshed, valid until $expiry"

# A new format later: the sessions come again in it, the others stay as they are.
sync_run 0 --formats gpx,fit,tcx
expect "a new format: six TCX files" test "$(line workouts)" = "6 new of 6, 6 files (gpx,fit,tcx) in $folder"

# ---- Interrupted part way through the download, then run again.
rm -rf "$folder"
"$tool" --simulate --sim-image "$scratch/watch.bin" sync --formats gpx >"$out" 2>"$scratch/err" </dev/null &
pid=$!
for _ in $(seq 400); do grep -q '^clock:' "$out" && break; sleep 0.01; done
sleep 0.3
kill -INT "$pid"
wait "$pid"
rc=$?
expect "interrupted: exit status 130 (got $rc)" test "$rc" = 130
before=$(files | wc -l)
expect "interrupted: the index names only files that exist" \
    bash -c "grep -v '^#' '$folder/.stridelog-downloads' 2>/dev/null | while read -r _ _ f; do [ -f '$folder/'\"\$f\" ] || exit 1; done"
sync_run 0 --formats gpx
expect "after the interruption ($before files): the next run completes it" test "$(files | wc -l)" = 6
expect "after the interruption: no session written twice" \
    test -z "$(find "$folder" -name '*_2.*')"

finish
