#!/usr/bin/env bash
# The host tool as a user runs it: output, exit status, the error line.
set -u
tool="$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Nothing of the user's: no registry file, no device map, no machine ports.
export XDG_CONFIG_HOME="$scratch/config" HOME="$scratch" STRIDELOG_SYSFS_ROOT="$scratch/sys"
unset STRIDELOG_DEVICE_MAP
failures=0
check() {  # legend, expected status, expected stdout, expected stderr pattern, args...
    local legend="$1" want_rc="$2" want_out="$3" want_err="$4"
    shift 4
    local out err rc
    out=$("$tool" "$@" 2>"$scratch/err")
    rc=$?
    err=$(cat "$scratch/err")
    if [ "$rc" != "$want_rc" ] || [ "$out" != "$want_out" ] || ! grep -qE -- "$want_err" <<<"$err"; then
        echo "FAIL: $legend: status $rc (want $want_rc), stdout [$out] (want [$want_out]), stderr [$err]"
        failures=$((failures + 1))
    fi
}
check "sdk version" 0 "SDK73688,2.0.11.260" "^" sdk-version
check "sdk version as JSON" 0 '{"sdk_version":"SDK73688,2.0.11.260"}' "^" --json sdk-version
check "no cable: empty port list" 0 "" "^" ports
check "no cable: the error notification" 1 "" \
    "^error 0x1000 SDK_ERR_NO_PORT: no serial port of the watch's cable exists" version
check "simulated watch over a pty" 0 "Ver1.30" "^" --simulate version
check "progress on stderr keeps JSON clean" 0 '{"version":"Ver1.30"}' "100%" --simulate --show --json version
check "no command" 2 "" "subcommand" 
check "two presenters at once" 2 "" "pick one" --show --window-png "$scratch/w.png" version
echo "$((8 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
