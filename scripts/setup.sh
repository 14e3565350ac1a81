#!/usr/bin/env bash
# Installs what building and testing psrl needs on a fresh Debian machine (as root), and
# only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format clang-tidy
  libgtest-dev googletest libbenchmark-dev libclang-rt-14-dev libcli11-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 gnuplot-nox jq
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing packages: ${missing[*]}; run this script as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
