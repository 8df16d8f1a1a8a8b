#!/usr/bin/env bash
# Installs every Debian package that building, testing, the demo and the
# benchmark need and that is missing. Run as root it installs them; run as
# another user it prints the one apt-get line that would and exits 1.
#
#   bash scripts/deps.sh [EXTRA-PACKAGE ...]
#
# Extra packages (for instance the fuzzing toolchain of .ci/run) join the list.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libgmock-dev time
  libgdal-dev gdal-bin libtiff-dev libisal-dev nlohmann-json3-dev libhwy-dev libeigen3-dev libsqlite3-dev
  gnuplot-nox poppler-utils strace libboost-math-dev
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages; install them as root with:" >&2
  echo "  apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
