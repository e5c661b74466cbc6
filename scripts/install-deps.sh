#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# With "run", only what `make run` needs; with "docs", only what `make docs`
# needs; with "fuzz", also the compiler and runtime of the fuzz targets; with
# "lint", the build's packages and the formatter and naming checker.
set -euo pipefail

# "run": only what `make run` builds and shows (library, tool, simulator and
# the demo's loopback FTP server); "docs": only doxygen, for `make docs`;
# anything else: the tests' tools as well.
packages=(
  build-essential cmake pkg-config
  libcli11-dev nlohmann-json3-dev
  libpng-dev zlib1g-dev
  libcurl4-openssl-dev libinih-dev
  python3-pyftpdlib
)
if [ "${1:-}" != run ]; then
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev
    locales
    gpsbabel libxml2-utils jq
    help2man
    doxygen
    systemd
    cloc stress-ng
  )
fi
if [ "${1:-}" = docs ]; then
  packages=(doxygen)
fi
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-dev)
fi
if [ "${1:-}" = lint ]; then
  packages+=(clang-format clang-tidy)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
