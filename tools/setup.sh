#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh Debian 12
# machine (run as root). Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

for p in cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
         libbenchmark-dev libopencv-dev x11-apps xterm g++-mingw-w64-i686 binutils-mingw-w64-i686 \
         xvfb xauth imagemagick x11-utils clang-format zip unzip python3; do
  have "$p" || need+=("$p")
done

if [ "${#need[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# The mingw-w64 compiler comes in a win32-threads and a posix-threads flavour;
# either builds the DLL, the toolchain file asks for the plain name.
command -v i686-w64-mingw32-g++ >/dev/null

# Wine runs the 32-bit test programs from a root of its own, which also
# works where the kernel refuses 32-bit code (see tools/wine/README.md).
bash "$(dirname "$0")/wine/setup.sh"
echo "setup: all tools present"
