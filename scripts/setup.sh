#!/usr/bin/env bash
# Installs what building (for Linux and for Windows), testing, benchmarking, fuzzing and packaging
# pelt needs, from Debian's packages, when it is missing. Safe to run again: it installs nothing
# that is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ zlib1g-dev   # the build (zlib deflates PNG files)
  clang-format                       # the format check
  libgtest-dev libgmock-dev libpng-dev  # tests; libpng reads back the PNG files pelt writes
  libbenchmark-dev time imagemagick  # benchmarks, their peak-memory figures, PNG's yardstick
  clang libclang-rt-14-dev           # libFuzzer and the sanitizers' runtime for the fuzz build
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64  # pelt.exe for Windows, Wine for its tests
  git dpkg-dev zip unzip             # the release packages (scripts/release.sh) and their check
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]} > 0)); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
