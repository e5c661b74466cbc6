#!/usr/bin/env bash
# `stridelog doctor` as a user runs it: each finding with its exit status and
# its words, on a fake sysfs tree, a simulated watch on a real pty, a port
# another process holds or locks, and a port this user may not open; and the
# error a plain command prints when the port does not open.
# Usage: doctor_test.sh <stridelog> <stridelog-sim> <udev rule>
set -u
tool="$1" sim="$2" rule="$3"
scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
chmod 755 "$scratch"
export XDG_CONFIG_HOME="$scratch/config" HOME="$scratch" STRIDELOG_SYSFS_ROOT="$scratch/sys"
export STRIDELOG_UDEV_RULES_DIRS="$scratch/rules-etc:$scratch/rules-lib"
unset STRIDELOG_DEVICE_MAP
mkdir -p "$scratch/config" "$scratch/sys" "$scratch/rules-etc" "$scratch/rules-lib"
chmod 777 "$scratch/config"
passes=0
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
doctor() {  # legend, expected status, pattern that stdout must match..., -- args
    local legend="$1" want="$2"
    shift 2
    local patterns=()
    while [ "$1" != "--" ]; do patterns+=("$1"); shift; done
    shift
    local out rc
    out=$("$@" 2>&1)
    rc=$?
    local ok=1
    [ "$rc" = "$want" ] || ok=0
    for p in "${patterns[@]}"; do grep -qE -- "$p" <<<"$out" || { ok=0; echo "  missing: $p"; }; done
    if [ "$ok" = 1 ]; then passes=$((passes + 1)); else fail "$legend: status $rc (want $want), output:"$'\n'"$out"; fi
}

# No cable at all; the rule missing too, but the missing cable decides.
doctor "no cable" 3 "^cable tty: +none in sysfs" "^SDK uses: +no port" "is it plugged in" \
    "^udev rule: +not installed \(looked in $scratch/rules-etc, $scratch/rules-lib\)" "^result: +finding 3" \
    -- "$tool" doctor

# The cable on USB but no tty: a driver problem, not a missing cable.
mkdir -p "$scratch/sys/devices/usb1/1-2" "$scratch/sys/bus/usb/devices"
echo 04fc >"$scratch/sys/devices/usb1/1-2/idVendor"
echo 0201 >"$scratch/sys/devices/usb1/1-2/idProduct"
ln -s ../../../devices/usb1/1-2 "$scratch/sys/bus/usb/devices/1-2"
doctor "cable without a tty" 4 "^cable USB: +04fc:0201 at USB 1-2" "no serial driver gave it a tty" \
    -- "$tool" doctor

# The cable's tty in sysfs: the SDK's port and the device behind it agree with
# sysfs; here the node is missing from /dev.
mkdir -p "$scratch/sys/devices/usb1/1-2/1-2:1.0/ttyUSB29" "$scratch/sys/class/tty/ttyUSB29" \
    "$scratch/sys/bus/usb-serial/drivers/cp210x"
ln -s "$scratch/sys/bus/usb-serial/drivers/cp210x" "$scratch/sys/devices/usb1/1-2/1-2:1.0/ttyUSB29/driver"
ln -s "$scratch/sys/devices/usb1/1-2/1-2:1.0/ttyUSB29" "$scratch/sys/class/tty/ttyUSB29/device"
if [ ! -e /dev/ttyUSB29 ]; then
    doctor "cable tty without its node" 9 "^cable tty: +/dev/ttyUSB29 \(USB 04fc:0201, driver cp210x\)" \
        "^SDK port: +COM30 -> /dev/ttyUSB29" "^SDK uses: +COM30 \(/dev/ttyUSB29\)" \
        "^problem: +/dev/ttyUSB29: No such file or directory" -- "$tool" doctor
fi
# Beyond the port numbering: the kernel has the tty, the SDK has no port.
mv "$scratch/sys/class/tty/ttyUSB29" "$scratch/sys/class/tty/ttyUSB40"
doctor "cable tty without a port name" 3 "^cable tty: +/dev/ttyUSB40 \(USB 04fc:0201" "^SDK uses: +no port" \
    "the SDK has no port for it" -- "$tool" doctor
rm -rf "$scratch/sys"
mkdir -p "$scratch/sys"

# A simulated watch: all is well but for the rule, then with the rule.
doctor "simulated watch, no rule" 8 "^SDK uses: +COM[0-9]+ \(/dev/pts/[0-9]+\)" "^open: +ok" \
    "^watch: +Ver1.30" "^fix: +sudo cp .*60-stridelog.rules /etc/udev/rules.d/" "^result: +finding 8" \
    -- "$tool" --simulate doctor
cp "$rule" "$scratch/rules-lib/60-stridelog.rules"
echo '# SUBSYSTEM=="tty", ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0201"' >"$scratch/rules-etc/10-off.rules"
doctor "simulated watch with the rule" 0 "^watch: +Ver1.30" \
    "^udev rule: +$scratch/rules-lib/60-stridelog.rules$" "^result: +ok$" -- "$tool" --simulate doctor
if grep -q "10-off" <<<"$("$tool" --simulate doctor 2>&1)"; then fail "a commented-out rule counts"; fi

# A simulator of our own, so other processes can hold its pty.
"$sim" --device-map "$scratch/sim.map" >"$scratch/sim.pty" &
pids+=($!)
for _ in $(seq 100); do [ -s "$scratch/sim.pty" ] && break; sleep 0.05; done
pty=$(grep -o '/dev/pts/[0-9]*' "$scratch/sim.pty" | head -1)
export STRIDELOG_DEVICE_MAP="$scratch/sim.map"
if [ -z "$pty" ]; then
    fail "the simulator announced no pty: $(cat "$scratch/sim.pty")"
else
    doctor "own simulator" 0 "^SDK uses: +COM[0-9]+ \($pty\)" "^watch: +Ver1.30" -- "$tool" doctor

    # ModemManager (a stand-in of that name) has the port open.
    mkdir -p "$scratch/bin"
    cp "$(command -v sleep)" "$scratch/bin/ModemManager"
    "$scratch/bin/ModemManager" 60 <"$pty" >/dev/null 2>&1 &
    mm=$!
    pids+=("$mm")
    sleep 0.2
    doctor "ModemManager holds the port" 6 "^held by: +ModemManager \(pid $mm\)" \
        "^problem: +ModemManager has $pty open" "systemctl stop ModemManager" "^result: +finding 6" \
        -- "$tool" doctor
    kill "$mm"
    wait "$mm" 2>/dev/null

    # Another program (this script) locks the port: the doctor and a plain
    # command name it.
    exec 9<>"$pty"
    flock -n 9 || fail "cannot lock $pty"
    doctor "a locked port" 6 "^open: +fails" "^problem: +$pty: Device or resource busy; held by .*bash \(pid $$\)" \
        -- "$tool" doctor
    doctor "a locked port: the command's error names device, reason and holder" 1 \
        "^error 0x1001 " "^$pty: Device or resource busy; held by .*bash \(pid $$\)" \
        -- "$tool" version
    exec 9>&-
    doctor "the lock let go" 0 "^open: +ok" -- "$tool" doctor

    # A watch that does not answer: the port opens, the version never comes.
    kill -STOP "${pids[0]}"
    doctor "a silent watch" 7 "^open: +ok" "^watch: +no answer" "^result: +finding 7" \
        -- "$tool" --timeout 1 doctor
    kill -CONT "${pids[0]}"

    # A port this user may not open.
    if [ "$(id -u)" = 0 ]; then
        as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
        group=$(stat -c %G "$pty")
    else
        as_user=()
        chmod 000 "$pty"
        group=$(stat -c %G "$pty")
    fi
    doctor "no permission" 5 "^problem: +$pty: Permission denied \(owner [^,]+, group $group, [-rwx]{9}\); fix: add yourself to the group $group \(sudo usermod -aG $group" \
        "install the udev rule" "^result: +finding 5" -- "${as_user[@]}" "$tool" doctor
    doctor "no permission: the command's error names device and reason" 1 "^error 0x1001 " \
        "^$pty: Permission denied .*group $group" -- "${as_user[@]}" "$tool" version
fi

doctor "the exit codes are documented" 0 "^  5  the port exists but this user may not open it" \
    "^  8  the watch answered, but the cable's udev rule is not installed" -- "$tool" doctor --help

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
