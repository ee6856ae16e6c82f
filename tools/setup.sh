#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh Debian 12
# machine (run as root). Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

for p in cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
         libbenchmark-dev libopencv-dev x11-apps xterm g++-mingw-w64-i686 binutils-mingw-w64-i686 \
         g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 lld llvm \
         xvfb xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils xauth imagemagick x11-utils clang-format zip unzip python3 \
         zlib1g-dev libz-mingw-w64-dev libcli11-dev dpkg-dev; do
  have "$p" || need+=("$p")
done

if [ "${#need[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# The PNG decoder, libspng, is built from Debian's source package for both
# targets (the 32-bit DLL links it statically with zlib from
# libz-mingw-w64-dev; the native build compiles it with the sanitizers, so the
# fuzzer sees into it). Debian ships no static libspng, hence the source. It
# is unpacked outside the repository, pinned to the version the loader was
# checked against (see the README).
spng_version=0.7.3-3
spng_dir=${ZADIZED_DEPS_DIR:-/opt/zadized-deps}/libspng-${spng_version%-*}
if [ ! -f "$spng_dir/spng/spng.c" ]; then
  sources=/etc/apt/sources.list.d/zadized-deb-src.sources
  if [ ! -f "$sources" ]; then
    cat >"$sources" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  fi
  apt-get update -qq
  rm -rf "$spng_dir"  # a half-unpacked tree from an interrupted run
  mkdir -p "$(dirname "$spng_dir")"
  # The pinned revision, or whatever bookworm carries now (a security update
  # keeps the upstream version, so the folder name holds).
  (cd "$(dirname "$spng_dir")" && { apt-get source -qq "libspng=$spng_version" >/dev/null 2>&1 ||
    apt-get source -qq libspng >/dev/null 2>&1; }) ||
    { echo "setup: could not fetch the libspng source package"; exit 1; }
  [ -f "$spng_dir/spng/spng.c" ] || { echo "setup: libspng source missing from $spng_dir"; exit 1; }
fi

# The mingw-w64 compiler comes in a win32-threads and a posix-threads flavour;
# either builds the DLL, the toolchain file asks for the plain name.
command -v i686-w64-mingw32-g++ >/dev/null

# Wine runs the 32-bit test programs from a root of its own, which also
# works where the kernel refuses 32-bit code (see tools/wine/README.md).
bash "$(dirname "$0")/wine/setup.sh"
bash "$(dirname "$0")/../tests/node/install.sh"  # Node.js for Windows and koffi, from npm
echo "setup: all tools present"
