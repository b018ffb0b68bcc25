#!/usr/bin/env bash
# Cross-builds a static libarchive for the Windows build: build-windows-libarchive.sh [prefix].
# The prefix (default build/windows-deps) receives include/archive.h, include/archive_entry.h and
# lib/libarchive.a; once they are there the script does nothing. Only ZIP reading and writing is
# kept: every other format filter, crypto library and command-line tool is switched off. zlib is
# Debian's static mingw-w64 one, so a program using the library defines LIBARCHIVE_STATIC and links
#   libarchive.a /usr/x86_64-w64-mingw32/lib/libz.a -lbcrypt   with -static.
# The source comes from Debian (apt-get source), the compilers from the repository's toolchain file.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$repo/build/windows-deps}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)

if [ -s "$prefix/lib/libarchive.a" ] && [ -f "$prefix/include/archive.h" ] &&
  [ -f "$prefix/include/archive_entry.h" ]; then
  exit 0
fi

mingw=/usr/x86_64-w64-mingw32
work=$prefix/work
log=$prefix/build.log
mkdir -p "$work"
: >"$log"
started=$SECONDS

# Runs a step with its output in the log; on failure shows the end of the log and stops.
run() {
  echo "+ $*" >>"$log"
  if ! "$@" >>"$log" 2>&1; then
    echo "build-windows-libarchive: failed: $*" >&2
    echo "--- last lines of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

if [ "$(id -u)" -ne 0 ]; then
  echo "build-windows-libarchive: needs root for apt-get (source and packages)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

# apt-get source needs a deb-src entry; Debian 12 ships only "Types: deb" ones.
if ! grep -rqsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
  /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      >/etc/apt/sources.list.d/debian-src.sources
  else
    echo "build-windows-libarchive: no deb-src entry and no debian.sources to copy one from" >&2
    exit 1
  fi
fi
run apt-get update -qq

packages=(libz-mingw-w64-dev dpkg-dev cmake ninja-build g++-mingw-w64-x86-64-posix wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  run apt-get install -y -qq "${missing[@]}"
fi

# The unpacked source is kept between runs; a stamp tells that the unpacking finished.
if [ ! -f "$work/source.stamp" ]; then
  rm -rf "$work/src"
  mkdir -p "$work/src"
  (cd "$work/src" && run apt-get source -qq libarchive)
  touch "$work/source.stamp"
fi
src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'libarchive-*' | head -n 1)
if [ -z "$src" ] || [ ! -f "$src/CMakeLists.txt" ]; then
  echo "build-windows-libarchive: no libarchive source under $work/src" >&2
  exit 1
fi

# Configure runs test programs (try_run); when cross-compiling they run under Wine, without which
# CMake crashes at the ZLIB_WINAPI check. The emulator's list is the script and then its prefix.
# zlib is named by its static library so that libarchive is compiled without dllimport for it.
rm -rf "$work/build"
run cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/scripts/wine-run.sh;$work/wine" \
  -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=OFF \
  -DZLIB_LIBRARY="$mingw/lib/libz.a" -DZLIB_INCLUDE_DIR="$mingw/include" \
  -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_CNG=OFF \
  -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_PCREPOSIX=OFF \
  -DENABLE_BZip2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_LZ4=OFF -DENABLE_LZO=OFF \
  -DENABLE_LIBB2=OFF -DENABLE_ICONV=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF \
  -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_TEST=OFF -DENABLE_WERROR=OFF
run cmake --build "$work/build" --target archive_static

lib=$(find "$work/build" -name 'libarchive*.a' | head -n 1)
[ -n "$lib" ] || {
  echo "build-windows-libarchive: the build made no static library" >&2
  exit 1
}
mkdir -p "$prefix/include" "$prefix/lib"
cp "$src/libarchive/archive.h" "$src/libarchive/archive_entry.h" "$prefix/include/"
# The library goes in last: its presence is what marks the prefix as done.
cp "$lib" "$prefix/lib/libarchive.a.tmp"
mv "$prefix/lib/libarchive.a.tmp" "$prefix/lib/libarchive.a"

echo "build-windows-libarchive: $(basename "$src") (ZIP only, static) in $prefix," \
  "$((SECONDS - started)) s; log: $log"
