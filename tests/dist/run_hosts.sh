#!/usr/bin/env bash
# Unpacks the release zip, builds the C and the C++ host against nothing but
# its header and import library, checks that they import zadized.dll by name,
# and runs each next to the zip's DLL through the Windows test runner.
# Usage: run_hosts.sh ZIP PACKAGE_NAME WORK_DIR CC CXX [TEST_DATA_DIR]
set -u
zip=$1
name=$2
work=$3
cc=$4
cxx=$5
data=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../wine/run.sh"

rm -rf "$work" && mkdir -p "$work" || exit 1
(cd "$work" && cmake -E tar xf "$zip") || { echo "dist: cannot unpack $zip"; exit 1; }
pkg="$work/$name"
for f in zadized.dll zadized.h zadized.def libzadized.dll.a guide.md; do
  [ -f "$pkg/$f" ] || { echo "dist: $f is missing from the zip"; exit 1; }
done

# Only the package's folder is on the include and library paths.
flags="-Wall -Wextra -Wpedantic -Werror -I$pkg -L$pkg"
"$cc" -std=c99 $flags -o "$pkg/host_c.exe" "$here/host.c" -lzadized -lgdi32 || { echo "dist: the C host does not build"; exit 1; }
"$cxx" -std=c++17 $flags -o "$pkg/host_cpp.exe" "$here/host.cpp" -lzadized -lgdi32 -static-libgcc -static-libstdc++ ||
  { echo "dist: the C++ host does not build"; exit 1; }

objdump=${cc%gcc}objdump
status=0
for exe in host_c host_cpp; do
  imports=$("$objdump" -p "$pkg/$exe.exe")
  for fn in SearchImage OpenBitmap CreateBuffer PtrGetString GetAccTime; do
    if ! grep -A200 "DLL Name: zadized.dll" <<<"$imports" | grep -qw "$fn"; then
      echo "dist: $exe.exe does not import $fn from zadized.dll"
      status=1
    fi
  done
done
[ $status -eq 0 ] || exit 1

for exe in host_c host_cpp; do
  echo "== $exe"
  out=$("$runner" "$pkg/$exe.exe" "$pkg/zadized.dll" "$data" 2>&1)
  rc=$?
  echo "$out"
  if [ $rc -ne 0 ] || ! grep -Eq '^[1-9][0-9]* passed, 0 failed' <<<"$out"; then
    echo "dist: $exe.exe failed (exit code $rc)"
    status=1
  fi
done
exit $status
