# Sourced by the tool's scripts: a private scratch folder and environment, the
# pass/fail tally, the output checks and a loopback FTP server.
# Callers set tool=... first.
set -u
sim_exe="$(dirname "$tool")/../../sim/stridelog-sim"
ftp_script="$(dirname "${BASH_SOURCE[0]}")/../../scripts/loopback-ftp-server.py"
scratch=$(mktemp -d)
ftp="$scratch/ftp"
golden_dir="$(dirname "${BASH_SOURCE[0]}")/../data/golden/tool"
trap 'stop_ftp; rm -rf "$scratch"' EXIT
# Nothing of the user's: no registry file, no device map, no machine ports.
export XDG_CONFIG_HOME="$scratch/config" HOME="$scratch" STRIDELOG_SYSFS_ROOT="$scratch/sys"
unset STRIDELOG_DEVICE_MAP
# The tool's temporary files land here, so leftovers can be seen.
export TMPDIR="$scratch/tmp"
mkdir -p "$TMPDIR" "$ftp/root"
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
    out=$("${run[@]}" "$@" 2>"$scratch/err" </dev/null)
    rc=$?
    err=$(cat "$scratch/err")
    printf '%s\n%s\n' "$out" "$err" >>"$scratch/transcript"  # every output, for secrets
    if [[ $want_out == @* ]]; then  # a file under tests/data/golden/tool/
        local golden="$golden_dir/${want_out#@}"
        [ -z "${STRIDELOG_REGENERATE_GOLDEN:-}" ] || printf '%s\n' "$out" >"$golden"
        want_out=$(cat "$golden")
    fi
    if [ "$rc" != "$want_rc" ] || [ "$out" != "$want_out" ] || ! grep -qE -- "$want_err" <<<"$err"; then
        fail "$legend: status $rc (want $want_rc), stdout [${out:0:400}] (want [${want_out:0:400}]), stderr [$err]"
    else
        passes=$((passes + 1))
    fi
}
checks() {  # rows on stdin, "[documents] legend | status | stdout or @golden | stderr pattern | args"
    local legend rc out err args argv
    while IFS='|' read -r legend rc out err args; do
        if [[ $legend =~ ^\[(.*)\]\ (.*) ]]; then documents "${BASH_REMATCH[1]}"; legend=${BASH_REMATCH[2]}; fi
        read -ra argv <<<"$args"
        check "$legend" "$rc" "$out" "$err" "${argv[@]}"
    done < <(sed -E '/^ *$/d; s/ *\| */|/g')
}
documents() { run=(env XDG_DOCUMENTS_DIR="$scratch/documents-$1" "$tool"); }  # a fresh download folder
sector_of() { dd if="$1" bs=4096 skip="$2" count=1 status=none; }
hex_of() { od -An -tx1 -v | tr -d ' \n'; }
same() { cmp -s "$1" "$2"; }
absent() { [ ! -e "$1" ]; }
start_ftp() {  # name, [bytes per second]: a server on $ftp/root whose port lands in $ftp/<name>.port
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
finish() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
