#!/usr/bin/env bash
# Checks the protections of the built DLL, so that a change to the link line
# that loses one shows up as a failed test:
#   - DllCharacteristics has DYNAMIC_BASE (0x40) and NX_COMPAT (0x100);
#   - relocations are present (not stripped, a non-empty .reloc section and
#     base-relocation directory), without which DYNAMIC_BASE is an empty
#     promise: the loader cannot move the image, so ASLR never happens;
#   - no section is both writable and executable;
#   - a Release build carries no symbol table and no debug sections;
#   - it imports from system DLLs only (its libraries, zlib and libspng
#     among them, are linked in, never loaded beside it);
#   - the x64 DLL (PE32+) also has HIGH_ENTROPY_VA (0x20), so the loader may
#     place it anywhere in the 64-bit space, and a preferred image base above
#     4 GB, so that even where it loads unmoved, every address in it needs
#     more than 32 bits and a host that cuts addresses fails at once.
#
#   tools/check_dll_hardening.sh OBJDUMP DLL [BUILD_TYPE [ARCH]]
# ARCH (x86 or x64) is the architecture the DLL must be built for.
set -uo pipefail
objdump=$1
dll=$2
type=${3:-}
arch=${4:-}
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

private=$("$objdump" -p "$dll") || { echo "FAILED: $objdump -p $dll"; exit 1; }
headers=$("$objdump" -h "$dll") || { echo "FAILED: $objdump -h $dll"; exit 1; }

dllchars=$(awk '$1 == "DllCharacteristics" { print $2; exit }' <<<"$private")
chars=$(awk '$1 == "Characteristics" { print $2; exit }' <<<"$private")
echo "$(basename "$dll"): $(stat -c %s "$dll") bytes"
echo "DllCharacteristics 0x${dllchars:-?}, Characteristics ${chars:-?}"
[ -n "$dllchars" ] && (((16#$dllchars & 0x40) != 0)) || fail "DYNAMIC_BASE (0x40) not set"
[ -n "$dllchars" ] && (((16#$dllchars & 0x100) != 0)) || fail "NX_COMPAT (0x100) not set"
[ -n "$chars" ] && ((($chars & 0x1) == 0)) || fail "relocations stripped (IMAGE_FILE_RELOCS_STRIPPED)"

magic=$(awk '$1 == "Magic" { print $2; exit }' <<<"$private")
base=$(awk '$1 == "ImageBase" { print $2; exit }' <<<"$private")
case "$magic" in
  010b) kind=x86 ;;
  020b) kind=x64 ;;
  *) kind=unknown ;;
esac
echo "Magic ${magic:-?} ($kind), ImageBase 0x${base:-?}"
[ -z "$arch" ] || [ "$arch" = "$kind" ] || fail "the DLL is $kind, but an $arch build was asked for"
if [ "$kind" = x64 ]; then
  [ -n "$dllchars" ] && (((16#$dllchars & 0x20) != 0)) || fail "HIGH_ENTROPY_VA (0x20) not set"
  [ -n "$base" ] && ((16#$base > 0xFFFFFFFF)) || fail "image base 0x${base:-?} is not above 4 GB"
fi

reloc=$(awk '$2 == ".reloc" { print $3; exit }' <<<"$headers")
[ -n "$reloc" ] && ((16#$reloc > 0)) || fail "no .reloc section"
relocdir=$(grep 'Base Relocation Directory' <<<"$private" | awk '{ print $4 }')
[ -n "$relocdir" ] && ((16#$relocdir > 0)) || fail "empty base-relocation directory"
echo ".reloc section 0x${reloc:-0} bytes, relocation directory 0x${relocdir:-0} bytes"

# objdump -h gives each section's flags on the line after it: CODE means
# executable, the absence of READONLY means writable.
wx=$(awk '/^ *[0-9]+ / { name = $2; next }
          name != "" { if ($0 ~ /CODE/ && $0 !~ /READONLY/) print name; name = "" }' <<<"$headers")
[ -z "$wx" ] || fail "writable and executable: $wx"

imports=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$private" | sort -u | tr '\n' ' ')
echo "imports from: ${imports:-nothing}"
for name in $imports; do
  case "$name" in
    kernel32.dll | gdi32.dll | user32.dll | winmm.dll | msvcrt.dll) ;;
    *) fail "imports from $name, which is not a system DLL" ;;
  esac
done

if [ "$type" = Release ]; then
  symbols=$("$objdump" -t "$dll" | grep -c '^\[')
  debug=$(awk '/^ *[0-9]+ / && $2 ~ /^\.debug/ { print $2 }' <<<"$headers" | tr '\n' ' ')
  echo "symbols ${symbols:-?}, debug sections: ${debug:-none}"
  [ "$symbols" = 0 ] || fail "Release DLL has a symbol table ($symbols)"
  [ -z "$debug" ] || fail "Release DLL has debug sections: $debug"
fi

[ "$failed" = 0 ] && echo "DLL protections in place: $dll"
exit "$failed"
