#!/usr/bin/env bash
# stridelog firmware check|update as a user runs it: a simulated watch with
# workouts on a saved flash image, a loopback FTP server serving update
# folders made by stridelog-sim, and the image compared before and after.
# One full update only: the watch's restart costs 30 s of real time.
tool="$1"
. "$(dirname "$0")/lib.sh"

# A watch with workouts and firmware 1.30.07_A12 (model 73688).
"$sim_exe" --generate "$scratch/watch.bin" || fail "generating the watch's image"
cp "$scratch/watch.bin" "$scratch/before.bin"
watch=(--simulate --sim-image "$scratch/watch.bin")

# Update folders as a server offers them: newer, the same version, a broken image.
generate() {  # folder, sim options...
    local folder="$1"
    shift
    "$sim_exe" --generate-firmware "$ftp/root/$folder" "$@" >/dev/null || fail "generating $folder"
}
generate newer --version 1.32.01_A12
generate current --version 1.30.07_A12
generate broken --version 1.32.01_A12 --damage wrong-checksum
generate other-code --version 1.32.01_VUNA0_00
# WEX0 looks in a subfolder named by the first part of a code such as VUNA0_00.
mkdir -p "$ftp/root/wex/VUNA0"
cp "$ftp/root/other-code"/* "$ftp/root/wex/VUNA0/"
head -c 1048576 /dev/zero | tr '\0' '\377' >"$scratch/vuna.bin"
printf '1.31.02_VUNA0_00' | dd of="$scratch/vuna.bin" bs=1 seek=96 conv=notrunc status=none
cp "$scratch/vuna.bin" "$scratch/vuna-before.bin"
expect "the update description for this watch's model and code" test -f "$ftp/root/newer/73688_A12.txt"
expect "the broken image differs from the good one only by its damage" \
    test "$(cmp -l "$ftp/root/newer/1.32.01_A12.fw2" "$ftp/root/broken/1.32.01_A12.fw2" | wc -l)" -ge 1

printf 'Firmware-Pa55\n' >"$ftp/password"
chmod 600 "$ftp/password"
start_ftp server
port=$(cat "$ftp/server.port")
expect "the FTP server listens" test -n "$port"
account=(--server "127.0.0.1:$port" --user stride --password-file "$ftp/password")

# ---- check: the offer, nothing written; a --yes changes nothing.
documents check
check "check: the offered version and its release notes" 0 @firmware-offer.txt "nothing was written to the watch" \
    "${watch[@]}" firmware check "${account[@]}" --folder newer
expect "check: the watch's flash is unchanged" same "$scratch/watch.bin" "$scratch/before.bin"
expect "check: the image was not even downloaded" test "$(grep -c "RETR 1.32.01_A12.fw2" "$ftp/server.log")" = 0
documents check-yes
check "check --yes still only looks" 0 @firmware-offer.txt "^" --yes "${watch[@]}" firmware check "${account[@]}" --folder newer
expect "check --yes: the watch's flash is unchanged" same "$scratch/watch.bin" "$scratch/before.bin"
documents check-json
check "check --json" 0 @firmware-offer.json "^" --json "${watch[@]}" firmware check "${account[@]}" --folder newer
documents wex
check "check --fifth WEX0: the subfolder named by the code" 0 @firmware-offer.txt "^" \
    --simulate --sim-image "$scratch/vuna.bin" firmware check "${account[@]}" --folder wex --fifth wex0
expect "check --fifth: the watch's flash is unchanged" same "$scratch/vuna.bin" "$scratch/vuna-before.bin"
documents wex-not
check "check without the fifth text: the folder as given" 18 "" "^error 0x1008 " \
    --simulate --sim-image "$scratch/vuna.bin" firmware check "${account[@]}" --folder wex

# ---- Up to date, other firmware, broken image, wrong account: exit statuses.
documents current
check "check: offered = current" 0 "the watch's firmware is up to date" "^" \
    "${watch[@]}" firmware check "${account[@]}" --folder current
check "check --json: up to date" 0 '{"firmware":"up_to_date"}' "^" \
    --json "${watch[@]}" firmware check "${account[@]}" --folder current
check "update --yes: offered = current writes nothing" 0 "the watch's firmware is up to date" "^" \
    "${watch[@]}" firmware update --yes "${account[@]}" --folder current
documents other-code
check "no description for this watch's code: the download fails" 18 "" \
    "^error 0x1008 SDK_ERR_DOWNLOAD: " \
    "${watch[@]}" firmware check "${account[@]}" --folder other-code
documents broken
check "update --yes: a broken image" 23 "" \
    "error 0x1013 SDK_ERR_FIRMWARE_IMAGE: .*nothing was written to the watch" \
    "${watch[@]}" firmware update --yes "${account[@]}" --folder broken
expect "broken image: the watch's flash is unchanged" same "$scratch/watch.bin" "$scratch/before.bin"
mkdir -p "$ftp/root/no-entry"
printf '[Method1]\r\nHistory=none.txt\r\n' >"$ftp/root/no-entry/73688_A12.txt"
documents no-entry
check "a description without its firmware entry" 22 "" "^error 0x1012 SDK_ERR_FIRMWARE_INFO: " \
    "${watch[@]}" firmware check "${account[@]}" --folder no-entry
checks <<ROWS
no cable | 10 |  | ^error 0x1000 SDK_ERR_NO_PORT:  | firmware check ${account[*]}
update without a terminal nor --yes is refused first | 2 |  | no terminal to ask on; pass --yes | ${watch[*]} firmware update ${account[*]} --folder newer
firmware without a server | 2 |  | config set firmware.server | firmware check
firmware needs check or update | 2 |  | subcommand | firmware
ROWS

# ---- The question on a terminal: no (and anything but yes) writes nothing.
on_terminal() {  # answer, args...: the tool under a pty, the answer typed once asked
    local answer="$1"
    shift
    pty_runs=$((${pty_runs:-0} + 1))
    { for _ in $(seq 200); do grep -q "y/N" "$scratch/pty.out" 2>/dev/null && break; sleep 0.1; done
      printf '%s\n' "$answer"
      for _ in $(seq 200); do grep -q "Script done" "$scratch/pty.out" 2>/dev/null && break; sleep 0.1; done; } |
        script -qfec "$(printf '%q ' env XDG_DOCUMENTS_DIR="$scratch/documents-pty-$pty_runs" "$tool" "$@")" \
            "$scratch/pty.out" >/dev/null
}
for answer in n "" maybe; do
    rm -f "$scratch/pty.out"
    on_terminal "$answer" "${watch[@]}" firmware update "${account[@]}" --folder newer
    typed=$(tr -d '\r' <"$scratch/pty.out")
    expect "update, answer '$answer': asked with the notes, the backup hint and the question" \
        test -n "$(grep -F "  - Lap times shown for 10 s" <<<"$typed")" \
        -a -n "$(grep -F "stridelog backup" <<<"$typed")" \
        -a -n "$(grep -F "Do you want to proceed ? [y/N]" <<<"$typed")"
    expect "update, answer '$answer': nothing written ($(tail -n 2 <<<"$typed" | tr '\n' ' '))" \
        test -n "$(grep -F "no update: nothing was written" <<<"$typed")"
    expect "update, answer '$answer': the watch's flash is unchanged" same "$scratch/watch.bin" "$scratch/before.bin"
done

# A yes at the terminal goes on: here to a broken image, which stops before any write.
for answer in y yes; do
    rm -f "$scratch/pty.out"
    on_terminal "$answer" "${watch[@]}" firmware update "${account[@]}" --folder broken
    typed=$(tr -d '\r' <"$scratch/pty.out")
    expect "update, answer '$answer' at the terminal: went on to the image's check ($(tail -n 2 <<<"$typed" | tr '\n' ' '))" \
        test -n "$(grep -F "error 0x1013 SDK_ERR_FIRMWARE_IMAGE" <<<"$typed")"
done
expect "answers at the terminal: the watch's flash is unchanged" same "$scratch/watch.bin" "$scratch/before.bin"

# ---- The update itself: download, writing, the restart, the new version.
# Beside it, a second update gets a Ctrl-C while its watch restarts: the
# update goes on (stopping would leave the watch without its settings), and
# the interruption is reported after the result.
cp "$scratch/before.bin" "$scratch/held.bin"
set -m
env XDG_DOCUMENTS_DIR="$scratch/documents-held" "$tool" --simulate --sim-image "$scratch/held.bin" \
    firmware update --yes "${account[@]}" --folder newer >"$scratch/held.out" 2>"$scratch/held.err" &
held_pid=$!
set +m
(
    for _ in $(seq 900); do grep -q "the watch restarts" "$scratch/held.err" && break; sleep 0.1; done
    kill -INT "$held_pid" 2>/dev/null
) &
interrupter_pid=$!
documents update
start=$(date +%s)
check "update --yes: firmware updated" 0 "firmware updated to 1.32.1" "writing to the watch 100%" \
    "${watch[@]}" firmware update --yes "${account[@]}" --folder newer
cp "$scratch/err" "$scratch/update.err"
took=$(($(date +%s) - start))
expect "update: the question shown with --yes too" grep -qF "Do you want to proceed ? [y/N] yes (--yes)" "$scratch/update.err"
expect "update: the download's progress reached 100%" grep -qE "^downloading +100%" "$scratch/update.err"
expect "update: the restart told, with its 70 s bound" \
    grep -qF "the watch restarts with its new firmware; reconnecting takes up to 70 s" "$scratch/update.err"
expect "update: the watch's return told" grep -qE "the watch answers again, after [0-9]+ s" "$scratch/update.err"
order=$(grep -nE '^writing|restarts with|answers again' "$scratch/update.err" | awk -F: '
    { what = $2 ~ /^writing/ ? "w" : $2 ~ /restarts/ ? "r" : "a"; if (what != last) printf "%s", what; last = what }')
expect "update: writing, the restart, the return, writing again ($order)" test "$order" = wraw
expect "update: took the restart's 30 s at least ($took s)" test "$took" -ge 30
check "after the update: the watch's long version text" 0 "1.32.01_A12" "^" "${watch[@]}" long-version
wait "$interrupter_pid"
wait "$held_pid"
held_rc=$?
expect "Ctrl-C during the restart: warned, not stopped ($(tr '\n' ' ' <"$scratch/held.err" | tail -c 300))" \
    grep -qF "press Ctrl-C again to stop anyway" "$scratch/held.err"
expect "Ctrl-C during the restart: the update finished, then 130" \
    test "$held_rc" = 130 -a "$(cat "$scratch/held.out")" = "firmware updated to 1.32.1" \
    -a -n "$(grep -x interrupted "$scratch/held.err")"
cp "$scratch/before.bin" "$scratch/before-copy.bin"
expect "before the update the watch had its six workouts" test "$("$tool" --simulate --sim-image "$scratch/before-copy.bin" --json workouts list 2>/dev/null | jq '.workouts | length')" = 6
check "after the update: its workouts are gone" 0 "no workouts on the watch" "^" "${watch[@]}" workouts list
expect "after the update: the image changed" test -n "$(cmp "$scratch/watch.bin" "$scratch/before.bin")"
documents after
check "check after the update: up to date" 0 "the watch's firmware is up to date" "^" \
    "${watch[@]}" firmware check "${account[@]}" --folder newer

# ---- The [firmware] section of the config file.
config="$XDG_CONFIG_HOME/stridelog/config.ini"
for setting in "server 127.0.0.1:$port" "user stride" "password_file $ftp/password" "folder wex" \
    "fifth WEX0" "limit 60"; do
    check "config set firmware.$setting" 0 "" "^$" config set "firmware.${setting%% *}" "${setting#* }"
done
check "config set firmware.mode: a bad one" 2 "" "passive or active" config set firmware.mode fast
expect "config: its own section" grep -qx "\[firmware\]" "$config"
cp "$scratch/before.bin" "$scratch/config-watch.bin"
printf 'Firmware-Pa55\n' | "$tool" config set firmware.password
expect "config set firmware.password from standard input: hidden" \
    test -n "$("$tool" config show | grep -xF "firmware.password = (hidden)")"
documents config
check "check with the config's account, folder and fifth text" 0 @firmware-offer.txt "^" --simulate --sim-image "$scratch/vuna.bin" firmware check
check "the command line over the config" 0 "the watch's firmware is up to date" "^" \
    --simulate --sim-image "$scratch/config-watch.bin" firmware check --folder current --fifth ""
finish
