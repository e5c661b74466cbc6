#!/usr/bin/env bash
# What `make run` shows: the SDK version, the cable ports, the watch's
# version read through the real serial path from a simulated watch, its
# workouts downloaded as GPX files, and its A-GPS data loaded from an FTP
# server on loopback.
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
work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$dump" "$work"
}
trap cleanup EXIT
"$tool" --simulate read-sector 0 > "$dump"
head -n 4 "$dump"
workouts="$build/demo-workouts"
echo "\$ stridelog --simulate workouts list"
"$tool" --simulate workouts list
echo "\$ stridelog --simulate workouts download --out $workouts"
"$tool" --simulate workouts download --out "$workouts"
echo "(the GPX files are in $workouts)"

# A-GPS: an FTP server on 127.0.0.1 (a free port) serving a generated 7-day
# orbit file and today's issue date. The download lands in the build tree,
# never in the user's Documents, and the user's own config is not read.
mkdir -p "$work/served/agps" "$work/config"
head -c 53760 /dev/urandom > "$work/served/agps/MTK7d.EPO"
date +%F > "$work/served/agps/datetime.txt"
(umask 077 && printf 'demo-password\n' > "$work/password")
/usr/bin/python3 "$(dirname "$0")/loopback-ftp-server.py" "$work/served" "$work/port" demo "$work/password" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the FTP server did not start" >&2; exit 1; }
port="$(cat "$work/port")"
documents="$(cd "$build" && pwd)/demo-documents"  # the SDK takes an absolute folder only
# An orbit file from today would be used again without a download; show one.
rm -rf "$documents/Stride Log"
echo "\$ stridelog --simulate agps --server 127.0.0.1:$port --user demo --password-file ... --folder agps"
XDG_DOCUMENTS_DIR="$documents" XDG_CONFIG_HOME="$work/config" \
  "$tool" --simulate agps --server "127.0.0.1:$port" --user demo --password-file "$work/password" --folder agps
echo "(the orbit file and its packets are in $documents/Stride Log)"

# sync: what runs at every plug-in. The A-GPS account from the demo's server,
# the workouts as GPX and FIT into the demo's documents folder; a second run
# finds nothing new.
XDG_CONFIG_HOME="$work/config" "$tool" config set agps.server "127.0.0.1:$port" >/dev/null
XDG_CONFIG_HOME="$work/config" "$tool" config set agps.user demo >/dev/null
XDG_CONFIG_HOME="$work/config" "$tool" config set agps.password_file "$work/password" >/dev/null
XDG_CONFIG_HOME="$work/config" "$tool" config set agps.folder agps >/dev/null
rm -rf "$documents/Stride Log"
"$build/sim/stridelog-sim" --generate "$work/watch.bin"  # a watch with workouts, kept across runs
for run in first second; do
  echo "\$ stridelog --simulate --sim-image ... sync --formats gpx,fit   ($run run)"
  XDG_DOCUMENTS_DIR="$documents" XDG_CONFIG_HOME="$work/config" \
    "$tool" --simulate --sim-image "$work/watch.bin" sync --formats gpx,fit
done
