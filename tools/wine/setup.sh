#!/usr/bin/env bash
# Prepares the runtime that tools/wine/run uses to start 32-bit Windows
# programs on a Debian 12 amd64 machine whose kernel cannot run 32-bit code.
#
# What it builds (all from Debian's archive):
#   - a Debian trixie amd64 root in $ZADIZED_WINE_ROOT (debootstrap),
#   - Wine 10 inside it: native 64-bit wineserver and system processes, and
#     the 32-bit Wine loader (wine32:i386), which runs under qemu-i386 in
#     user mode because the kernel refuses 32-bit code,
#   - trapfix.so, a small 32-bit preload built from trapfix.c that repairs
#     the fault information qemu hands to Wine's signal handlers.
#
# Idempotent: a second run finds the stamp and returns at once.
# Run as root.  Environment:
#   ZADIZED_WINE_ROOT  where the root goes (default /var/lib/zadized-wine/trixie)
#   ZADIZED_WINE_MIRROR Debian mirror (default http://deb.debian.org/debian)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=${ZADIZED_WINE_ROOT:-/var/lib/zadized-wine/trixie}
MIRROR=${ZADIZED_WINE_MIRROR:-http://deb.debian.org/debian}
SUITE=trixie
SETUP_VERSION=1

log() { printf 'tools/wine/setup: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

retry() {
  local n=1 max=$1; shift
  until "$@"; do
    if [ "$n" -ge "$max" ]; then return 1; fi
    log "attempt $n of $max failed: $*; retrying in $((n * 5)) s"
    sleep $((n * 5)); n=$((n + 1))
  done
}

[ "$(id -u)" = 0 ] || die "must run as root"
[ "$(uname -m)" = x86_64 ] || die "needs an x86_64 machine"
[ -f "$here/trapfix.c" ] || die "missing $here/trapfix.c"

stamp_want="v$SETUP_VERSION $(cat "$here/trapfix.c" "$here/setup.sh" | sha256sum | cut -c1-16)"
stamp_file=$ROOT/.zadized-wine-ready
if [ -f "$stamp_file" ] && [ "$(cat "$stamp_file")" = "$stamp_want" ] \
   && [ -x "$ROOT/usr/lib/wine/wine64" ] && [ -x "$ROOT/usr/lib/wine/wine.i386" ]; then
  log "runtime already prepared in $ROOT"
  exit 0
fi

t0=$(date +%s)

# Unmounts anything left mounted below a directory (an interrupted debootstrap).
umount_below() {
  local dir=$1 m
  for m in $(awk -v d="$dir" 'index($2, d "/") == 1 { print $2 }' /proc/mounts | sort -r); do
    umount -l "$m" 2>/dev/null || true
  done
}

# Runs a command inside the root with /proc and /dev available, in a private
# mount namespace so that nothing stays mounted afterwards.
in_root() {
  unshare --mount --propagation private -- /bin/sh -c '
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"
  ' in_root "$ROOT" "$@"
}

# Runs a command with its output appended to a log; shows the end of the log
# if it fails.
quietly() {
  local logfile=$1; shift
  if ! "$@" >>"$logfile" 2>&1; then
    tail -20 "$logfile" >&2
    return 1
  fi
}

# 1. debootstrap on the host.
if ! command -v debootstrap >/dev/null 2>&1; then
  log "installing debootstrap on the host"
  if ! retry 2 apt-get install -y -q -o Acquire::Retries=5 debootstrap; then
    retry 3 apt-get update -q
    retry 3 apt-get install -y -q -o Acquire::Retries=5 debootstrap
  fi
fi

# 2. The trixie root.
if [ ! -f "$ROOT/.zadized-wine-base" ]; then
  log "creating a Debian $SUITE root in $ROOT (debootstrap, about 1-2 minutes)"
  partial=$ROOT.partial
  umount_below "$partial"
  rm -rf --one-file-system "$partial"
  mkdir -p "$(dirname "$ROOT")"
  attempt=1
  until debootstrap --variant=minbase "$SUITE" "$partial" "$MIRROR" >"$partial.log" 2>&1; do
    umount_below "$partial"
    tail -5 "$partial.log" >&2 || true
    [ "$attempt" -lt 3 ] || die "debootstrap failed three times (log: $partial.log)"
    log "debootstrap failed; retrying"
    rm -rf --one-file-system "$partial"
    attempt=$((attempt + 1)); sleep 5
  done
  umount_below "$partial"
  rm -f "$partial.log"
  umount_below "$ROOT"
  rm -rf --one-file-system "$ROOT"
  mv "$partial" "$ROOT"
  touch "$ROOT/.zadized-wine-base"
fi

# 3. Wine, qemu-user and a 32-bit cross compiler inside it.
if [ ! -f "$ROOT/.zadized-wine-packages-v$SETUP_VERSION" ]; then
  log "installing wine (amd64 + i386), qemu-user and an i386 cross compiler in the root (about 2 minutes)"
  apt_log=$ROOT/var/log/zadized-wine-apt.log
  log "(apt output goes to $apt_log)"
  in_root dpkg --add-architecture i386
  retry 3 quietly "$apt_log" in_root apt-get -q -o Acquire::Retries=5 update
  xlibs="libxrender1 libxrandr2 libxi6 libxfixes3 libxcursor1 libxinerama1 libxcomposite1 libxxf86vm1"
  xlibs32=$(for p in $xlibs; do printf '%s:i386 ' "$p"; done)
  # shellcheck disable=SC2086
  retry 3 quietly "$apt_log" in_root apt-get install -y -q --no-install-recommends -o Acquire::Retries=5 \
    wine wine64 wine32:i386 fonts-wine qemu-user \
    gcc-i686-linux-gnu libc6-dev-i386-cross $xlibs $xlibs32
  in_root apt-get clean
  touch "$ROOT/.zadized-wine-packages-v$SETUP_VERSION"
fi

# 4. The fault-information shim and the loader wrapper.
log "building trapfix.so and installing the qemu-i386 wrapper for the 32-bit loader"
mkdir -p "$ROOT/usr/local/lib/zadized-wine"
cp "$here/trapfix.c" "$ROOT/usr/local/lib/zadized-wine/trapfix.c"
in_root i686-linux-gnu-gcc -O2 -shared -fPIC -fno-stack-protector -Wall \
  -o /usr/local/lib/zadized-wine/trapfix.so /usr/local/lib/zadized-wine/trapfix.c -ldl

# Debian's wine64 starts 32-bit programs by executing /usr/lib/wine/wine, an
# i386 ELF file.  Divert it to wine.i386 and put a script in its place that
# runs it under qemu-i386 (no binfmt_misc registration needed).
if ! in_root dpkg-divert --list /usr/lib/wine/wine | grep -q wine.i386; then
  in_root dpkg-divert --local --rename --divert /usr/lib/wine/wine.i386 --add /usr/lib/wine/wine
fi
cat >"$ROOT/usr/lib/wine/wine" <<'EOF'
#!/bin/sh
# Installed by tools/wine/setup.sh: the kernel cannot run 32-bit code, so the
# 32-bit Wine loader runs under qemu-i386 in user mode.
# -0 keeps argv[0] "/usr/lib/wine/wine": Wine derives the loader it executes
# for child processes (wine, wine64) from it, so children come back here.
exec /usr/bin/qemu-i386 -0 /usr/lib/wine/wine \
  -E LD_PRELOAD=/usr/local/lib/zadized-wine/trapfix.so /usr/lib/wine/wine.i386 "$@"
EOF
chmod 755 "$ROOT/usr/lib/wine/wine"

# 5. Smoke test: the loaders start.
in_root /usr/lib/wine/wine64 --version >/dev/null || die "wine64 does not start"
in_root /usr/lib/wine/wine --version >/dev/null || die "the 32-bit loader does not start under qemu-i386"

printf '%s\n' "$stamp_want" >"$stamp_file"
log "runtime ready in $ROOT ($(in_root /usr/lib/wine/wine64 --version), $(in_root /usr/bin/qemu-i386 --version | head -1)); took $(( $(date +%s) - t0 )) s"
