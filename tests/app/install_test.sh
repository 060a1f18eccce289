#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs.
set -euo pipefail
cmake=$1 build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" > /dev/null
for f in bin/tessarin bin/tessarin-cli share/man/man1/tessarin-cli.1.gz share/man/man1/tessarin.1.gz \
         share/applications/tessarin.desktop share/doc/tessarin/copyright \
         share/metainfo/tessarin.metainfo.xml \
         share/icons/hicolor/scalable/apps/tessarin.svg; do
  [[ -e "$prefix/$f" ]] || { echo "FAIL: $f not installed" >&2; exit 1; }
done
for s in 16 22 24 32 48 64 128 256; do
  f=share/icons/hicolor/${s}x${s}/apps/tessarin.png
  [[ -e "$prefix/$f" ]] || { echo "FAIL: $f not installed" >&2; exit 1; }
done
[[ -x "$prefix/bin/tessarin" ]] || { echo "FAIL: bin/tessarin is not executable" >&2; exit 1; }
grep -q '^Exec=tessarin %f$' "$prefix/share/applications/tessarin.desktop"
grep -q '^MimeType=.*image/jpeg;' "$prefix/share/applications/tessarin.desktop"
echo "ok: installed into a scratch prefix"
