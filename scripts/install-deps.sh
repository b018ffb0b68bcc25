#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing
# (the tests check the JSON output with python3-jsonschema and the HTML report in Chromium; CI
# checks the layout of the sources with clang-format).
# With "windows": what the Windows build and its tests under Wine need instead; with "fuzz": the
# compiler and the fuzzing library that make fuzz needs besides; with "bench": the timers of
# bench/whole_run.sh.
set -euo pipefail

if [ "${1:-}" = windows ]; then
  packages=(
    cmake ninja-build python3 googletest
    g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine
  )
elif [ "${1:-}" = fuzz ]; then
  packages=(clang libclang-rt-dev)
elif [ "${1:-}" = bench ]; then
  packages=(hyperfine time)
else
  packages=(
    build-essential cmake ninja-build pkg-config
    libicu-dev libxml2-dev libarchive-dev libturbojpeg0-dev
    libminizip-dev libdeflate-dev zlib1g-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    zip unzip libarchive-tools libjpeg-turbo-progs python3 dpkg-dev parallel
    python3-jsonschema chromium clang-format
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Install them with:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
