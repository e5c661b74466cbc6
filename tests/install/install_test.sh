#!/usr/bin/env bash
# The installed tree, from `cmake --install` into a prefix that is then moved
# (nothing may point back at it) or from the Debian package unpacked into a
# throwaway root (under /usr). Both trees get the same checks and run their
# tools; the moved install also builds the C host, as C and as C++, and the host
# kit's example through pkg-config and find_package, and runs the example against
# the installed simulator.
# Usage: install_test.sh install <cmake> <build dir> <man pages: 0|1> <source dir> <cc> <c++> [flags]
#        install_test.sh package <cpack> <build dir> <man pages: 0|1>
set -u
mode="$1" build="$3" man="$4" source="${5:-}" cc="${6:-}" cxx="${7:-}" flags="${8:-}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" STRIDELOG_SYSFS_ROOT="$scratch/sys"
unset STRIDELOG_DEVICE_MAP LD_LIBRARY_PATH
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() { local legend="$1"; shift; "$@" || fail "$legend"; }
checks() {  # rows on stdin, "legend | shell condition"
    local legend condition
    while IFS='|' read -r legend condition; do [ -z "$legend" ] || expect "$legend" eval "$condition"; done
}
want_version="SDK73688,2.0.11.260"

if [ "$mode" = install ]; then
    "$2" --install "$build" --prefix "$scratch/installed" >"$scratch/log" 2>&1 &&
        mv "$scratch/installed" "$scratch/moved"
    p="$scratch/moved" prefix="$scratch/installed"
else
    "$2" -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/log" 2>&1
    deb=$(find "$scratch/out" -maxdepth 1 -name 'stridelog_*.deb' | head -1)
    [ -z "$deb" ] || dpkg -x "$deb" "$scratch/root"
    p="$scratch/root/usr" prefix=/usr
fi
so=$(find "$p" -name 'libstridelog.so.2' 2>/dev/null | head -1)
if [ -z "$so" ]; then
    cat "$scratch/log"
    echo "FAIL: $mode: no libstridelog.so.2"
    exit 1
fi
libdir=$(dirname "$so")
export PKG_CONFIG_PATH="$libdir/pkgconfig"

checks <<'ROWS'
SONAME | grep -q 'SONAME.*\[libstridelog\.so\.2\]' <(readelf -d "$so")
the links | [ "$(readlink "$so")" = libstridelog.so.2.0.11 ] && [ "$(readlink "$libdir/libstridelog.so")" = libstridelog.so.2 ]
the only static archive is the host kit's | [ "$(find "$p" -name '*.a' -printf '%P\n')" = "${libdir#"$p"/}/libstridelog_hostkit.a" ]
the host kit's archive keeps its symbols | nm -C "$libdir/libstridelog_hostkit.a" 2>/dev/null | grep -q parse_session_block
public headers | (cd "$p/include/stridelog" && test -f stridelog.h -a -f win_types.h -a -f framework_arrays.h -a -f hostkit.hpp -a -f hostkit/records.hpp -a -f hostkit/exporters.hpp -a -f hostkit/download_index.hpp)
the export names the shared library and the host kit | [ "$(grep -ho 'add_library([^ ]*' "$libdir"/cmake/Stridelog/StridelogTargets*.cmake | sort -u | tr '\n' ' ')" = "add_library(Stridelog::hostkit add_library(Stridelog::stridelog " ]
pkg-config version | [ "$(pkg-config --modversion stridelog)" = 2.0.11 ]
pkg-config: the host kit requires the SDK | [ "$(pkg-config --print-requires stridelog-hostkit)" = "stridelog = 2.0.11" ]
the sync service's user unit runs the installed tool | grep -qx "ExecStart=$prefix/bin/stridelog sync --notify" "$p/lib/systemd/user/stridelog-sync.service"
the udev rule asks for the sync service | grep -q 'ENV{SYSTEMD_USER_WANTS}+="stridelog-sync.service"' "$p/lib/udev/rules.d/60-stridelog.rules"
the udev rule where udev looks below the prefix | grep -q 'ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0201".*TAG+="uaccess".*ID_MM_DEVICE_IGNORE}="1"' "$p/lib/udev/rules.d/60-stridelog.rules"
man pages, the tool's with the doctor's exit codes | [ "$man" = 0 ] || { grep -q '^\.TH "\?STRIDELOG-SIM' "$p/share/man/man1/stridelog-sim.1" && grep -q 'udev rule is not installed' "$p/share/man/man1/stridelog.1"; }
the tool finds the library through its own location | [ "$("$p/bin/stridelog" sdk-version 2>&1)" = "$want_version" ]
the tool starts the simulator beside it | [ "$("$p/bin/stridelog" --simulate version 2>&1)" = Ver1.30 ]
ROWS

if [ "$mode" = package ]; then
    checks <<'ROWS'
package name and version | [ "$(dpkg-deb -f "$deb" Package Version)" = $'Package: stridelog\nVersion: 2.0.11' ]
depends on the C++ runtime and libcurl | dpkg-deb -f "$deb" Depends | grep 'libstdc++6' | grep -q libcurl
postinst reloads the udev rules | dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst | grep -q 'udevadm control --reload-rules'
postinst and postrm run ldconfig | [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst ./postrm | grep -c '^[[:space:]]*ldconfig')" = 2 ]
nothing outside /usr | [ "$(ls "$scratch/root")" = usr ]
ROWS
else
    # The C host and the example, through pkg-config and through find_package.
    run_host() {  # legend, executable
        local out
        out=$(LD_LIBRARY_PATH="$libdir" "$2" 2>&1)
        [ "$out" = "$want_version" ] || fail "$1: printed [$out]"
    }
    mkdir -p "$scratch/consumer" "$scratch/gpx"
    cp "$source/tests/c_host/sdk_version_host.c" "$scratch/consumer/host.c"
    cp "$source/tests/c_host/sdk_version_host.c" "$scratch/host.cpp"
    cp "$source/tests/install/sdk_version_host.cpp" "$scratch/consumer/host.cpp"
    cp "$source/examples/download_gpx.cpp" "$scratch/consumer/"
    for host in consumer/host.c host.cpp; do
        if [[ $host == *.c ]]; then compiler=$cc; else compiler=$cxx; fi
        # shellcheck disable=SC2046,SC2086
        if "$compiler" $flags -o "$scratch/pc_host" "$scratch/$host" $(pkg-config --cflags --libs stridelog); then
            run_host "$host through pkg-config" "$scratch/pc_host"
        else fail "$host through pkg-config does not build"; fi
    done
    example="$scratch/download_gpx"
    # shellcheck disable=SC2046,SC2086
    if "$cxx" $flags -std=c++20 -o "$example" "$source/examples/download_gpx.cpp" \
            $(pkg-config --cflags --libs stridelog-hostkit) 2>"$scratch/example.log"; then
        "$p/bin/stridelog-sim" --baud 0 --device-map "$scratch/sim.map" --realistic \
            >"$scratch/sim.out" 2>"$scratch/sim.err" &
        sim=$!
        for _ in $(seq 100); do [ -s "$scratch/sim.out" ] && break; sleep 0.1; done
        (cd "$scratch/gpx" && TZ=Europe/Berlin STRIDELOG_DEVICE_MAP="$scratch/sim.map" LD_LIBRARY_PATH="$libdir" \
            "$example" >"$scratch/example.out" 2>"$scratch/example.err")
        rc=$?
        kill "$sim" && wait "$sim"
        checks <<'ROWS'
example: downloads without an error | [ "$rc" = 0 ] || { cat "$scratch/example.err"; false; }
example: one GPX file per session, each named on its line | [ "$(ls "$scratch/gpx" | sort)" = "$(sort "$scratch/example.out")" ] && [ "$(ls "$scratch/gpx"/*.gpx | wc -l)" = 6 ]
example: well-formed GPX | xmllint --noout "$scratch/gpx"/*.gpx
example: the last session as the golden GPX file (Berlin's winter time) | cmp -s "$scratch/gpx/2026-03-15T18-00-03.gpx" "$source/tests/data/realistic-session-5.gpx"
ROWS
    else
        cat "$scratch/example.log"
        fail "the host kit's example does not build through pkg-config"
    fi
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
    if "$2" -S "$scratch/consumer" -B "$scratch/consumer/build" -DCMAKE_PREFIX_PATH="$p" \
            -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="$flags" \
            -DCMAKE_CXX_FLAGS="$flags" >"$scratch/consumer.log" 2>&1 &&
        "$2" --build "$scratch/consumer/build" >>"$scratch/consumer.log" 2>&1; then
        run_host "C host through find_package" "$scratch/consumer/build/host_c"
        run_host "C++ host through find_package" "$scratch/consumer/build/host_cxx"
        expect "the example through Stridelog::hostkit" test -x "$scratch/consumer/build/download_gpx"
    else
        cat "$scratch/consumer.log"
        fail "the find_package consumer does not build"
    fi
    sed -i 's/Stridelog 2 REQUIRED/Stridelog 3 REQUIRED/' "$scratch/consumer/CMakeLists.txt"
    if "$2" -S "$scratch/consumer" -B "$scratch/major3" -DCMAKE_PREFIX_PATH="$p" >/dev/null 2>&1; then
        fail "find_package accepts another major version"
    fi
fi

[ "$failures" -eq 0 ] && echo "$mode: all checks passed"
