#!/usr/bin/env bash
# Makes the Debian package into a scratch folder and checks that it holds
# what apt would install, under /usr, with its dependencies found.
set -euo pipefail
cpack=$1 build=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && "$cpack" -G DEB -B "$out" > /dev/null)
deb=$(ls "$out"/tessarin_*_*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/tessarin ./usr/bin/tessarin-cli ./usr/share/applications/tessarin.desktop \
         ./usr/share/metainfo/tessarin.metainfo.xml ./usr/share/man/man1/tessarin-cli.1.gz \
         ./usr/share/man/man1/tessarin.1.gz ./usr/share/doc/tessarin/copyright \
         ./usr/share/doc/tessarin/changelog.gz ./usr/share/icons/hicolor/scalable/apps/tessarin.svg; do
  grep -qx "$f" <<< "$files" || { echo "FAIL: $f not in the package" >&2; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in qt6-qpa-plugins libqt6widgets6 libheif1 libheif-plugin-x265 libavcodec; do
  grep -q "$d" <<< "$depends" || { echo "FAIL: no dependency on $d: $depends" >&2; exit 1; }
done
echo "ok: $(basename "$deb")"
