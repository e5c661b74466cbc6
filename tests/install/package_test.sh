#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a throwaway root and runs the
# tool from there: the package holds what an install holds, under /usr.
# Usage: package_test.sh <cpack> <build dir>
set -u
cpack="$1" build="$2"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" STRIDELOG_SYSFS_ROOT="$scratch/sys"
unset STRIDELOG_DEVICE_MAP LD_LIBRARY_PATH
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() { local legend="$1"; shift; "$@" || fail "$legend"; }

if ! "$cpack" -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$(find "$scratch/out" -maxdepth 1 -name 'stridelog_*.deb' | head -1)
if [ -z "$deb" ]; then
    cat "$scratch/cpack.log"
    echo "FAIL: no stridelog_*.deb"
    exit 1
fi
expect "package name" test "$(dpkg-deb -f "$deb" Package)" = "stridelog"
expect "package version" test "$(dpkg-deb -f "$deb" Version)" = "2.0.11"
expect "depends on the C++ runtime and libcurl" grep -q 'libstdc++6.*libcurl\|libcurl.*libstdc++6' \
    <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sort | tr '\n' ' ')
expect "postinst reloads the udev rules" grep -q 'udevadm control --reload-rules' \
    <(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst)
expect "postinst and postrm run ldconfig" test "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst ./postrm | grep -c '^[[:space:]]*ldconfig')" = 2

root="$scratch/root"
dpkg -x "$deb" "$root"
expect "the rule where udev reads it" test -f "$root/usr/lib/udev/rules.d/60-stridelog.rules"
expect "the headers" test -f "$root/usr/include/stridelog/stridelog.h"
expect "the pkg-config file" test -n "$(find "$root/usr/lib" -name stridelog.pc)"
expect "the CMake package" test -n "$(find "$root/usr/lib" -name StridelogConfig.cmake)"
expect "nothing outside /usr" test "$(ls "$root")" = "usr"
expect "the only static archive is the host kit's" \
    test "$(find "$root" -name '*.a' -printf '%f\n')" = "libstridelog_hostkit.a"
expect "the host kit's headers and pkg-config file" test -f "$root/usr/include/stridelog/hostkit.hpp" \
    -a -n "$(find "$root/usr/lib" -name stridelog-hostkit.pc)"
expect "the host kit's archive keeps its symbols (not stripped)" \
    grep -q 'write_gpx' <(nm -C "$(find "$root" -name 'libstridelog_hostkit.a')" 2>/dev/null)
libdir=$(dirname "$(find "$root/usr/lib" -name 'libstridelog.so.2' | head -1)")
out=$(LD_LIBRARY_PATH="$libdir" "$root/usr/bin/stridelog" sdk-version 2>"$scratch/tool.err")
expect "stridelog sdk-version from the package printed [$out]" test "$out" = "SDK73688,2.0.11.260"
out=$(LD_LIBRARY_PATH="$libdir" "$root/usr/bin/stridelog" --simulate version 2>>"$scratch/tool.err")
expect "the packaged simulator answers, printed [$out]" test "$out" = "Ver1.30"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "package: all checks passed"
