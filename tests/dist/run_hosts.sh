#!/usr/bin/env bash
# Unpacks the release zip, checks what it holds, and builds three hosts for one
# architecture from nothing but its header and that architecture's folder:
# the C and the C++ host with mingw-w64 (libzadized.dll.a), and msvc_host.c
# compiled by clang for the MSVC target and linked by lld-link (zadized.lib).
# Checks that each imports zadized.dll by name and runs it next to the zip's
# DLL under Wine, on a display of its own showing a known picture.
# Usage: run_hosts.sh ZIP PACKAGE_NAME ARCH(x86|x64) WORK_DIR [TEST_DATA_DIR]
set -u
zip=$1
name=$2
arch=$3
work=$4
data=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../tools/wine/run"

case $arch in
  x86) mingw=i686-w64-mingw32- triple=i686-pc-windows-msvc machine=i386 lld_machine=x86 format=pei-i386 ;;
  x64) mingw=x86_64-w64-mingw32- triple=x86_64-pc-windows-msvc machine=i386:x86-64 lld_machine=x64 format=pei-x86-64 ;;
  *) echo "dist: unknown architecture $arch"; exit 2 ;;
esac

rm -rf "$work" && mkdir -p "$work" || exit 1
(cd "$work" && cmake -E tar xf "$zip") || { echo "dist: cannot unpack $zip"; exit 1; }
pkg="$work/$name"

# The zip holds exactly this, and each program is built for its folder's architecture.
expected="guide.md
include/zadized.h"
for picture in "$here"/../../docs/images/*.png; do expected+=$'\n'"images/${picture##*/}"; done
for a in x86 x64; do
  for f in libzadized.dll.a zadized-find.exe zadized.def zadized.dll zadized.lib; do expected+=$'\n'"$a/$f"; done
done
actual=$(cd "$pkg" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$(LC_ALL=C sort <<<"$expected")" ]; then
  echo "dist: the zip holds"; echo "$actual"; echo "dist: instead of"; LC_ALL=C sort <<<"$expected"; exit 1
fi
# Every picture or file the guide links to is in the zip, beside the guide.
for target in $(grep -oE '\]\([^)#:]+\)' "$pkg/guide.md" | sed -E 's/^\]\((.*)\)$/\1/'); do
  [ -f "$pkg/$target" ] || { echo "dist: the guide links to $target, which the zip does not hold"; exit 1; }
done
for f in zadized.dll zadized-find.exe; do
  "${mingw}objdump" -f "$pkg/$arch/$f" | grep -q "file format $format" || { echo "dist: $arch/$f is not $format"; exit 1; }
  "${mingw}objdump" -t "$pkg/$arch/$f" | grep -q '^\[' && { echo "dist: $arch/$f is not stripped"; exit 1; }
done

# The hosts are built and run in a folder of their own, beside a copy of the DLL.
run="$work/run-$arch"
mkdir -p "$run" && cp "$pkg/$arch/zadized.dll" "$run/" || exit 1
source "$here/painted_screen.sh"
start_screen "$run" || { echo "dist: cannot make the screen's picture"; exit 1; }
trap 'kill $virtual_display_pid 2>/dev/null' EXIT

flags="-Wall -Wextra -Wpedantic -Werror -I$pkg/include -L$pkg/$arch"
"${mingw}gcc" -std=c99 $flags -o "$run/host_c.exe" "$here/host.c" -lzadized -lgdi32 ||
  { echo "dist: the C host does not build"; exit 1; }
"${mingw}g++" -std=c++17 $flags -o "$run/host_cpp.exe" "$here/host.cpp" -lzadized -lgdi32 -static-libgcc \
  -static-libstdc++ || { echo "dist: the C++ host does not build"; exit 1; }

# The MSVC-style host: every export of the zip's .def referred to through the
# zip's header, and the system functions it calls from import libraries made
# here from their names (x86 names carry the stdcall argument bytes).
{
  echo '#include "zadized.h"'
  echo 'const char* const zadized_export_names[] = {'
  sed -nE 's/^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+@[0-9]+.*/  "\1",/p' "$pkg/$arch/zadized.def"
  echo '  0};'
  echo 'uintptr_t ZadizedExportAddress(int index) {'
  echo '  switch (index) {'
  sed -nE 's/^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+@[0-9]+.*/\1/p' "$pkg/$arch/zadized.def" |
    awk '{ printf "    case %d: return (uintptr_t)&%s;\n", NR - 1, $1 }'
  echo '  }'
  echo '  return 0;'
  echo '}'
} >"$run/exports.c"
while read -r dll functions; do
  {
    echo "LIBRARY $dll.dll"
    echo "EXPORTS"
    for f in $functions; do
      if [ "$arch" = x64 ]; then echo "  ${f%@*}"; else echo "  $f"; fi
    done
  } >"$run/$dll.def"
  llvm-dlltool -m "$machine" -k -d "$run/$dll.def" -l "$run/$dll.lib" || { echo "dist: llvm-dlltool $dll failed"; exit 1; }
done <<'SYSTEM'
kernel32 GetStdHandle@4 WriteFile@20 CreateFileA@28 CloseHandle@4 GetModuleHandleA@4 GetProcAddress@8 ExitProcess@4
user32 GetSystemMetrics@4
gdi32 DeleteObject@4
SYSTEM
for c in msvc_host exports; do
  src="$here/$c.c"
  [ "$c" = exports ] && src="$run/exports.c"
  clang --target="$triple" -std=c11 -O2 -ffreestanding -fno-stack-protector -Wall -Wextra -Wpedantic -Werror \
    -I"$pkg/include" -c "$src" -o "$run/$c.obj" || { echo "dist: clang cannot compile $c.c for $triple"; exit 1; }
done
lld-link -nologo -machine:"$lld_machine" -subsystem:console -entry:HostMain -nodefaultlib -out:"$run/host_msvc.exe" \
  "$run/msvc_host.obj" "$run/exports.obj" "$pkg/$arch/zadized.lib" "$run/kernel32.lib" "$run/user32.lib" \
  "$run/gdi32.lib" || { echo "dist: lld-link cannot link the MSVC-style host against zadized.lib"; exit 1; }

status=0
for exe in host_c host_cpp host_msvc; do
  imports=$("${mingw}objdump" -p "$run/$exe.exe")
  for fn in SearchImage OpenBitmap CreateBuffer PtrGetValue; do
    if ! grep -A200 "DLL Name: zadized.dll" <<<"$imports" | grep -qw "$fn"; then
      echo "dist: $exe.exe does not import $fn from zadized.dll"
      status=1
    fi
  done
done
[ $status -eq 0 ] || exit 1

export WINEPREFIX=${WINEPREFIX:-$here/../../build/wineprefix}
# A host that fails to load waits for a debugger that never comes; a run takes seconds.
export ZADIZED_WINE_TIMEOUT=${ZADIZED_WINE_TIMEOUT:-120}
for exe in host_c host_cpp host_msvc; do
  # The last host looks for the picture, shown once Wine's desktop is up.
  [ $exe = host_msvc ] && paint_screen "$run"
  echo "== $arch $exe"
  out=$(cd "$run" && "$wine_run" "$run/$exe.exe" "$run/zadized.dll" "$data" 2>&1)
  rc=$?
  echo "$out"
  if [ $rc -ne 0 ] || ! grep -Eq '^[1-9][0-9]* passed, 0 failed' <<<"$out"; then
    echo "dist: $arch $exe.exe failed (exit code $rc)"
    status=1
  fi
done
exit $status
