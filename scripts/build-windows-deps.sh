#!/usr/bin/env bash
# Cross-builds the archive engine's libraries for the Windows build, static:
# build-windows-deps.sh [prefix]. The prefix (default build/windows-deps) receives
#   include/archive.h, include/archive_entry.h, lib/libarchive.a   (ZIP reading and writing only:
#     every other format filter, crypto library and command-line tool is switched off),
#   include/minizip/zip.h, include/minizip/ioapi.h, lib/libminizip.a   (the ZIP writer of zlib's
#     contrib/minizip),
#   include/libdeflate.h, lib/libdeflate.a;
# a library already there is not built again. zlib is Debian's static mingw-w64 one, so a program
# using them defines LIBARCHIVE_STATIC and links
#   libarchive.a libminizip.a libdeflate.a /usr/x86_64-w64-mingw32/lib/libz.a -lbcrypt   with -static.
# The sources come from Debian (apt-get source), the compilers from the repository's toolchain file.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$repo/build/windows-deps}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)

have_libarchive() {
  [ -s "$prefix/lib/libarchive.a" ] && [ -f "$prefix/include/archive.h" ] &&
    [ -f "$prefix/include/archive_entry.h" ]
}
have_minizip() { [ -s "$prefix/lib/libminizip.a" ] && [ -f "$prefix/include/minizip/zip.h" ]; }
have_libdeflate() { [ -s "$prefix/lib/libdeflate.a" ] && [ -f "$prefix/include/libdeflate.h" ]; }
if have_libarchive && have_minizip && have_libdeflate; then
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
    echo "build-windows-deps: failed: $*" >&2
    echo "--- last lines of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

if [ "$(id -u)" -ne 0 ]; then
  echo "build-windows-deps: needs root for apt-get (source and packages)" >&2
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
    echo "build-windows-deps: no deb-src entry and no debian.sources to copy one from" >&2
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

# Fetches the source package `name` once (a stamp tells that the unpacking finished) and prints
# the directory that holds `marker`. Each version the package lists is tried in turn: a mirror may
# lack the newest one's files.
source_of() {
  local name=$1 marker=$2 dir=$work/src/$1 version found
  if [ ! -f "$dir/source.stamp" ]; then
    for version in $(apt-cache showsrc "$name" | sed -n 's/^Version: //p'); do
      rm -rf "$dir"
      mkdir -p "$dir"
      echo "+ apt-get source $name=$version" >>"$log"
      if (cd "$dir" && apt-get source -qq "$name=$version") >>"$log" 2>&1; then
        touch "$dir/source.stamp"
        break
      fi
    done
  fi
  found=$(find "$dir" -mindepth 1 -maxdepth 1 -type d -name "$name-*" | head -n 1)
  if [ -z "$found" ] || [ ! -f "$found/$marker" ]; then
    echo "build-windows-deps: no $name source under $dir" >&2
    exit 1
  fi
  echo "$found"
}

build_libarchive() {
  local src lib
  src=$(source_of libarchive CMakeLists.txt)

  # Configure runs test programs (try_run); when cross-compiling they run under Wine, without which
  # CMake crashes at the ZLIB_WINAPI check. The emulator's list is the script and then its prefix.
  # zlib is named by its static library so that libarchive is compiled without dllimport for it.
  rm -rf "$work/libarchive-build"
  run cmake -S "$src" -B "$work/libarchive-build" -G Ninja \
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
  run cmake --build "$work/libarchive-build" --target archive_static

  lib=$(find "$work/libarchive-build" -name 'libarchive*.a' | head -n 1)
  [ -n "$lib" ] || {
    echo "build-windows-deps: the build made no static library" >&2
    exit 1
  }
  cp "$src/libarchive/archive.h" "$src/libarchive/archive_entry.h" "$prefix/include/"
  cp "$lib" "$prefix/lib/libarchive.a.tmp"
  mv "$prefix/lib/libarchive.a.tmp" "$prefix/lib/libarchive.a"
}

# minizip from zlib's source; only the writer and its file functions are needed.
build_minizip() {
  local src out=$work/minizip-build
  src=$(source_of zlib contrib/minizip/zip.c)/contrib/minizip
  rm -rf "$out"
  mkdir -p "$out" "$prefix/include/minizip"
  for file in zip ioapi; do
    run x86_64-w64-mingw32-gcc-posix -O2 -c "$src/$file.c" -o "$out/$file.o"
  done
  run x86_64-w64-mingw32-ar rcs "$out/libminizip.a" "$out/zip.o" "$out/ioapi.o"
  cp "$src/zip.h" "$src/ioapi.h" "$prefix/include/minizip/"
  cp "$out/libminizip.a" "$prefix/lib/libminizip.a.tmp"
  mv "$prefix/lib/libminizip.a.tmp" "$prefix/lib/libminizip.a"
}

# libdeflate's own makefile names the static library of a mingw-w64 build libdeflatestatic.lib.
build_libdeflate() {
  local src
  src=$(source_of libdeflate libdeflate.h)
  run make -C "$src" clean
  run make -C "$src" CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar libdeflatestatic.lib
  cp "$src/libdeflate.h" "$prefix/include/"
  cp "$src/libdeflatestatic.lib" "$prefix/lib/libdeflate.a.tmp"
  mv "$prefix/lib/libdeflate.a.tmp" "$prefix/lib/libdeflate.a"
}

mkdir -p "$prefix/include" "$prefix/lib"
# Each library goes in last: its presence is what marks it as done.
have_libarchive || build_libarchive
have_minizip || build_minizip
have_libdeflate || build_libdeflate
echo "build-windows-deps: libarchive, minizip and libdeflate (static) in $prefix," \
  "$((SECONDS - started)) s; log: $log"
