#!/usr/bin/env bash
# A phone's 200-megapixel HEIC (12240 x 16320, a grid of 512 x 512 tiles,
# as phones store them) made from the sample photo, then, in one run, the
# time and peak memory of `tessarin-cli miniature` on it (read, effect,
# JPEG written) beside libheif's own heif-convert writing a JPEG of it, and
# of Tessarin reading it alone (a resize to 64 x 64). The goal: the
# miniature within 1.5 GB.
#
# The HEIC takes two or three minutes to make and is kept in
# $BUILD/bench/heic_large/.
#
#   bench/bench_heic_large.sh [BUILD]     (BUILD defaults to build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
cli="$build/src/cli/tessarin-cli"
work="$build/bench/heic_large"
mkdir -p "$work/tiles"
cd "$work"

W=12240 H=16320 T=512
if [[ ! -s big.heic ]]; then
  echo "Making a ${W}x${H} HEIC of ${T}x${T} tiles in $work ..."
  # Each tile is its part of the photo scaled to cover the picture, so
  # that no program needs the whole picture to make it.
  python3 - "$root/samples/evening-glow.jpg" "$W" "$H" "$T" > jobs.txt <<'PY'
import sys
src, W, H, T = sys.argv[1], *map(int, sys.argv[2:])
sw, sh = 2560, 1600
s = max(W / sw, H / sh)
x0, y0 = (sw * s - W) / 2, (sh * s - H) / 2
for ty in range((H + T - 1) // T):
  for tx in range((W + T - 1) // T):
    side = T / s
    print(f"convert {src} -crop {side + 1:.0f}x{side + 1:.0f}+{int((x0 + tx * T) / s)}+{int((y0 + ty * T) / s)}"
          f" +repage -resize {T}x{T}! -depth 8 PNG24:tiles/tile-{ty:02d}-{tx:02d}.png")
PY
  parallel < jobs.txt
  heif-enc -q 80 -T --tiled-image-width $W --tiled-image-height $H tiles/tile-00-00.png -o big.tmp.heic > /dev/null
  mv big.tmp.heic big.heic
  rm -rf tiles jobs.txt
fi

measure() {  # LABEL COMMAND...
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o time.txt "$@" > /dev/null 2> err.txt || { cat err.txt >&2; exit 1; }
  read -r seconds kib < time.txt
  printf '%-34s %6.2f s  %7.0f MB peak\n' "$label" "$seconds" "$(echo "$kib * 1024 / 1000000" | bc -l)"
  echo "$kib"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
ls -l big.heic | awk '{printf "big.heic: %.1f MB\n", $5 / 1e6}'
measure "heif-convert to JPEG" heif-convert -q 90 big.heic ref.jpg | head -1
measure "tessarin-cli resize (read alone)" "$cli" resize --method nearest --size 64x64 big.heic small.png | head -1
out=$(measure "tessarin-cli miniature" "$cli" miniature big.heic -o miniature.jpg)
echo "$out" | head -1
kib=$(echo "$out" | tail -1)
bytes=$((kib * 1024))
if ((bytes <= 1500000000)); then verdict=met; else verdict="NOT met"; fi
echo "goal: miniature within 1.5 GB: $((bytes / 1000000)) MB, $verdict"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f ref.jpg small.png miniature.jpg time.txt err.txt ref-*.jpg
