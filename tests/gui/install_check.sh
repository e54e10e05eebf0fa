#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a desktop needs: programs and
# plug-ins together in lib/quorvel, links from bin that still find the plug-ins, the icon
# and the desktop entry.   install_check.sh <build folder>
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
check() { if ! eval "$1"; then echo "FAILED: $1" >&2; fail=1; fi; }
check '[ -x "$prefix/lib/quorvel/quorvelw" ] && [ -f "$prefix/lib/quorvel/qvbmp.qvp" ]'
for spi in bmp png jpeg tiff pnm; do check "[ -f \"\$prefix/lib/quorvel/$spi.spi\" ]"; done
check '[ "$(readlink "$prefix/bin/quorvelw")" = ../lib/quorvel/quorvelw ]'
check '[ -x "$prefix/bin/quorvelw" ]'
check 'identify -format "%w %h %m" "$prefix/share/icons/hicolor/32x32/apps/quorvel.png" | grep -qx "32 32 PNG"'
desktop="$prefix/share/applications/quorvelw.desktop"
check 'grep -qx "Exec=quorvelw" "$desktop" && grep -qx "Icon=quorvel" "$desktop"'
# Through the link the console program still lists the plug-ins installed beside it.
if [ -x "$prefix/bin/quorvel" ]; then
  check '"$prefix/bin/quorvel" | grep -qx " \"Windows Bitmap\""'
fi
[ $fail -eq 0 ] && echo "install layout: ok"
exit $fail
