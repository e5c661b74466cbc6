#!/usr/bin/env bash
# Installs the build into a throwaway prefix, moves the tree elsewhere (nothing
# may point back at the prefix it was installed to), and builds the C host
# against it through pkg-config and through find_package, as C and as C++, and
# the host kit's example, which it runs against the installed simulator.
# Usage: install_test.sh <cmake> <build dir> <source dir> <cc> <c++> <man pages: 0|1> [flags]
set -u
cmake="$1" build="$2" source="$3" cc="$4" cxx="$5" man="$6" flags="${7:-}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" STRIDELOG_SYSFS_ROOT="$scratch/sys"
unset STRIDELOG_DEVICE_MAP LD_LIBRARY_PATH
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() { local legend="$1"; shift; "$@" || fail "$legend"; }
want_version="SDK73688,2.0.11.260"

if ! "$cmake" --install "$build" --prefix "$scratch/installed" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi
mv "$scratch/installed" "$scratch/moved"
p="$scratch/moved"
libdir=$(dirname "$(find "$p" -name 'libstridelog.so.2' | head -1)")

# The library with its SONAME and the two links.
expect "libstridelog.so.2 exists" test -n "$libdir"
expect "SONAME is libstridelog.so.2" \
    grep -q 'SONAME.*\[libstridelog\.so\.2\]' <(readelf -d "$libdir/libstridelog.so.2")
expect "libstridelog.so.2 -> the versioned file" \
    test "$(readlink "$libdir/libstridelog.so.2")" = "libstridelog.so.2.0.11"
expect "libstridelog.so -> libstridelog.so.2" test "$(readlink "$libdir/libstridelog.so")" = "libstridelog.so.2"
expect "the only static archive is the host kit's" \
    test "$(find "$p" -name '*.a' -printf '%P\n')" = "${libdir#"$p"/}/libstridelog_hostkit.a"
expect "public headers" test -f "$p/include/stridelog/stridelog.h" -a -f "$p/include/stridelog/win_types.h" \
    -a -f "$p/include/stridelog/framework_arrays.h"
expect "the host kit's headers" test -f "$p/include/stridelog/hostkit.hpp" \
    -a -f "$p/include/stridelog/hostkit/records.hpp" -a -f "$p/include/stridelog/hostkit/exporters.hpp" \
    -a -f "$p/include/stridelog/hostkit/download_index.hpp"
expect "the export names the shared library and the host kit" \
    test "$(grep -ho 'add_library([^ ]*' "$libdir"/cmake/Stridelog/StridelogTargets*.cmake | sort -u | tr '\n' ' ')" \
    = "add_library(Stridelog::hostkit add_library(Stridelog::stridelog "
expect "the host kit's archive keeps its symbols" \
    grep -q 'parse_session_block' <(nm -C "$libdir/libstridelog_hostkit.a" 2>/dev/null)
expect "the tools" test -x "$p/bin/stridelog" -a -x "$p/bin/stridelog-sim"
expect "the sync service's user unit, running the installed tool" \
    grep -qx "ExecStart=$scratch/installed/bin/stridelog sync --notify" "$p/lib/systemd/user/stridelog-sync.service"
expect "the udev rule asks for the sync service" \
    grep -q 'ENV{SYSTEMD_USER_WANTS}+="stridelog-sync.service"' "$p/lib/udev/rules.d/60-stridelog.rules"
expect "the udev rule where udev looks below the prefix" \
    grep -q 'ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0201".*TAG+="uaccess".*ID_MM_DEVICE_IGNORE}="1"' \
    "$p/lib/udev/rules.d/60-stridelog.rules"
if [ "$man" = 1 ]; then
    for page in stridelog stridelog-sim; do
        expect "man page of $page" grep -q "^\.TH \"\?${page^^}" "$p/share/man/man1/$page.1"
    done
    expect "the tool's man page lists its commands and the doctor's exit codes" \
        grep -q 'udev rule is not installed' "$p/share/man/man1/stridelog.1"
fi

# The installed tools find the library and each other through their own location.
expect "installed tool runs" test "$("$p/bin/stridelog" sdk-version 2>>"$scratch/tool.err")" = "$want_version"
expect "installed tool starts the installed simulator" \
    test "$("$p/bin/stridelog" --simulate version 2>>"$scratch/tool.err")" = "Ver1.30"

run_host() {  # legend, executable
    local out
    out=$(LD_LIBRARY_PATH="$libdir" "$2" 2>&1)
    [ "$out" = "$want_version" ] || fail "$1: printed [$out]"
}

# pkg-config, from C and from C++.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
expect "pkg-config version" test "$(pkg-config --modversion stridelog)" = "2.0.11"
cp "$source/tests/c_host/sdk_version_host.c" "$scratch/host.c"
cp "$source/tests/c_host/sdk_version_host.c" "$scratch/host.cpp"
# shellcheck disable=SC2046,SC2086
if "$cc" $flags -o "$scratch/host_pc_c" "$scratch/host.c" $(pkg-config --cflags --libs stridelog); then
    run_host "C host through pkg-config" "$scratch/host_pc_c"
else fail "C host through pkg-config does not build"; fi
# shellcheck disable=SC2046,SC2086
if "$cxx" $flags -o "$scratch/host_pc_cxx" "$scratch/host.cpp" $(pkg-config --cflags --libs stridelog); then
    run_host "C++ host through pkg-config" "$scratch/host_pc_cxx"
else fail "C++ host through pkg-config does not build"; fi

# The host kit's example through pkg-config, run against the installed
# simulator: one GPX file per session, well-formed, the last one the golden file.
expect "pkg-config: the host kit requires the SDK" \
    test "$(pkg-config --print-requires stridelog-hostkit)" = "stridelog = 2.0.11"
example="$scratch/download_gpx"
# shellcheck disable=SC2046,SC2086
if "$cxx" $flags -std=c++20 -o "$example" "$source/examples/download_gpx.cpp" \
        $(pkg-config --cflags --libs stridelog-hostkit) 2>"$scratch/example.log"; then
    "$p/bin/stridelog-sim" --baud 0 --device-map "$scratch/sim.map" --realistic \
        >"$scratch/sim.out" 2>"$scratch/sim.err" &
    sim=$!
    for _ in $(seq 100); do [ -s "$scratch/sim.out" ] && break; sleep 0.1; done
    mkdir -p "$scratch/gpx"
    (cd "$scratch/gpx" && TZ=Europe/Berlin STRIDELOG_DEVICE_MAP="$scratch/sim.map" LD_LIBRARY_PATH="$libdir" \
        "$example" >"$scratch/example.out" 2>"$scratch/example.err")
    rc=$?
    kill "$sim" && wait "$sim"
    expect "example: downloads without an error (status $rc: $(cat "$scratch/example.err"))" test "$rc" = 0
    expect "example: one GPX file per session, each named on its line" \
        test "$(ls "$scratch/gpx" | sort)" = "$(sort "$scratch/example.out")" \
        -a "$(ls "$scratch/gpx"/*.gpx | wc -l)" = 6
    expect "example: well-formed GPX" xmllint --noout "$scratch/gpx"/*.gpx
    expect "example: the last session as the golden GPX file (Berlin's winter time)" \
        cmp -s "$scratch/gpx/2026-03-15T18-00-03.gpx" "$source/tests/data/realistic-session-5.gpx"
else
    cat "$scratch/example.log"
    fail "the host kit's example does not build through pkg-config"
fi

# find_package, from C and from C++ (the README's C++ host), and the example
# through the host kit's CMake target.
mkdir -p "$scratch/consumer"
cp "$scratch/host.c" "$scratch/consumer/"
cp "$source/tests/install/sdk_version_host.cpp" "$scratch/consumer/host.cpp"
cp "$source/examples/download_gpx.cpp" "$scratch/consumer/"
cat >"$scratch/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(stridelog_consumer C CXX)
find_package(Stridelog 2 REQUIRED)
add_executable(host_c host.c)
add_executable(host_cxx host.cpp)
add_executable(download_gpx download_gpx.cpp)
target_link_libraries(host_c PRIVATE Stridelog::stridelog)
target_link_libraries(host_cxx PRIVATE Stridelog::stridelog)
target_link_libraries(download_gpx PRIVATE Stridelog::hostkit)
CMAKE
if "$cmake" -S "$scratch/consumer" -B "$scratch/consumer/build" -DCMAKE_PREFIX_PATH="$p" \
        -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="$flags" \
        -DCMAKE_CXX_FLAGS="$flags" >"$scratch/consumer.log" 2>&1 &&
    "$cmake" --build "$scratch/consumer/build" >>"$scratch/consumer.log" 2>&1; then
    run_host "C host through find_package" "$scratch/consumer/build/host_c"
    run_host "C++ host through find_package" "$scratch/consumer/build/host_cxx"
    expect "the example through Stridelog::hostkit" test -x "$scratch/consumer/build/download_gpx"
else
    cat "$scratch/consumer.log"
    fail "the find_package consumer does not build"
fi
mkdir -p "$scratch/major3"
echo 'cmake_minimum_required(VERSION 3.16)
project(major3 LANGUAGES NONE)
find_package(Stridelog 3 REQUIRED)' >"$scratch/major3/CMakeLists.txt"
if "$cmake" -S "$scratch/major3" -B "$scratch/major3/build" -DCMAKE_PREFIX_PATH="$p" >/dev/null 2>&1; then
    fail "find_package accepts another major version"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "install: all checks passed"
