#!/usr/bin/env bash
# Makes the HEIF, AVIF, WebP, TIFF and JPEG XL files the format tests read,
# each with Debian's own encoder, and beside each the reference the
# format's own decoder makes of it (a PNG, or a PPM/PAM the test reads
# itself): heif-convert, dwebp, tiff2rgba, djxl. Run by ctest before the
# tests (fixture "format_fixtures"); takes a few seconds.
#
# Sources (formulas kept in step with format_fixture_test.cpp):
#   src     48x32 RGB   (5x + 3y, 8y, 255 - 4x - y) with x*y*7 mod 23 added to red
#   alpha   48x32 RGBA  src's colours, alpha (x * 16 + y * 3) mod 256
#   grey    48x32       (5x + 3y) mod 256
#   deep    8x4 RGB 16-bit  (257*(8x+y), 65535 - 300*(8x+y), 0x00FF or 0xFF00 alternately)
#
# Usage: make_format_fixtures.sh OUTDIR
# Needs: python3, ImageMagick's convert, heif-enc, heif-convert, avifenc,
# cwebp, dwebp, img2webp, webpmux, tiffcp, tiffset, tiff2rgba, cjxl, djxl.
set -euo pipefail
out=${1:?usage: make_format_fixtures.sh OUTDIR}
here="$(cd "$(dirname "$0")" && pwd)"
meta="$here/fixtures/metadata"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

python3 - <<'PY'
W, H = 48, 32
def src(x, y): return ((5 * x + 3 * y + x * y * 7 % 23) % 256, 8 * y, 255 - 4 * x - y)
with open('src.ppm', 'wb') as f:
  f.write(b'P6 %d %d 255\n' % (W, H) + bytes(c for y in range(H) for x in range(W) for c in src(x, y)))
with open('alpha.pam', 'wb') as f:
  f.write(b'P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n' % (W, H))
  f.write(bytes(c for y in range(H) for x in range(W) for c in src(x, y) + ((x * 16 + y * 3) % 256,)))
with open('grey.pgm', 'wb') as f:
  f.write(b'P5 %d %d 255\n' % (W, H) + bytes((5 * x + 3 * y) % 256 for y in range(H) for x in range(W)))
with open('deep.ppm', 'wb') as f:
  f.write(b'P6 8 4 65535\n')
  for y in range(4):
    for x in range(8):
      i = 8 * x + y
      for v in (257 * i, 65535 - 300 * i, 0x00FF if (x + y) % 2 else 0xFF00):
        f.write(bytes((v >> 8, v & 255)))
PY
# p3.icc: an ICC v2 display profile with the Display P3 primaries (D50-
# adapted XYZ, as Apple's profile states them), a D65 white and a 2.2
# gamma, made byte by byte so that a colour engine (lcms in libjxl) takes it.
python3 - <<'PY'
import struct
def s15(v): return struct.pack('>i', round(v * 65536))
def xyz(x, y, z): return b'XYZ \0\0\0\0' + s15(x) + s15(y) + s15(z)
def desc(text):
  t = text.encode() + b'\0'
  return b'desc\0\0\0\0' + struct.pack('>I', len(t)) + t + b'\0' * 12 + b'\0' * 67
tags = [(b'desc', desc('Display P3 (Tessarin test)')), (b'wtpt', xyz(0.96420, 1.0, 0.82491)),
        (b'rXYZ', xyz(0.515102, 0.241196, -0.001053)), (b'gXYZ', xyz(0.291965, 0.692236, 0.041882)),
        (b'bXYZ', xyz(0.157153, 0.066568, 0.784073)),
        (b'rTRC', b'curv\0\0\0\0' + struct.pack('>IH', 1, 563) + b'\0\0'),
        (b'cprt', b'text\0\0\0\0' + b'No copyright\0')]
tags += [(b'gTRC', tags[5][1]), (b'bTRC', tags[5][1])]
table, body, offset = b'', b'', 128 + 4 + 12 * len(tags)
for sig, data in tags:
  data += b'\0' * (-len(data) % 4)
  table += sig + struct.pack('>II', offset + len(body), len(data))
  body += data
size = offset + len(body)
header = struct.pack('>I', size) + b'lcms' + bytes([2, 0x10, 0, 0]) + b'mntrRGB XYZ ' + b'\0' * 12 + \
         b'acsp' + b'APPL' + b'\0' * 4 + b'\0' * 8 + b'\0' * 8 + struct.pack('>I', 0) + \
         s15(0.9642) + s15(1.0) + s15(0.82491) + b'lcms' + b'\0' * 44
assert len(header) == 128
open('p3.icc', 'wb').write(header + struct.pack('>I', len(tags)) + table + body)
PY
convert src.ppm src.png
convert alpha.pam alpha.png
convert grey.pgm grey.png
convert deep.ppm -depth 16 deep.png

q() { "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }

# HEIF and AVIF: libheif's encoders and libavif's; references by heif-convert.
q heif-enc -q 70 src.png -o heic.heic
q heif-enc -q 70 alpha.png -o heic_alpha.heic
q heif-enc -A -q 70 src.png -o avif.avif
q avifenc --min 10 --max 20 src.png avifenc8.avif
q avifenc -d 10 --min 10 --max 20 src.png avifenc10.avif
# A phone's photo: camera.jpg's EXIF and XMP with the P3 profile.
convert "$meta/camera.jpg" +profile icc -profile p3.icc phone.jpg
q heif-enc -q 80 phone.jpg -o phone.heic
# Stored turned with EXIF orientation 6, which heif-enc keeps and adds as an irot box.
q heif-enc -q 90 "$meta/orient6.jpg" -o orient6.heic
# As current phones write them: an auxiliary image (here the alpha of the
# primary, item 2) that refers to two images, the primary and the second
# picture (item 3). heif-convert writes each picture, the primary first.
convert src.png -negate negated.png
q heif-enc -q 70 alpha.png negated.png -o aux_two.heic
python3 "$here/heif_edit.py" aux-refs aux_two.heic 3 aux_refs.heic
q heif-convert aux_refs.heic aux_refs.png
mv aux_refs-1.png aux_refs.ref.png
# Grids of 64 x 64 tiles, 3 x 2 of them for a 160 x 100 canvas (the last
# column and row partly outside), 8- and 10-bit, and turned and mirrored
# as cameras store pictures taken upright.
convert src.png -resize '160x100!' grid_src.png
for depth in 24 48; do
  mkdir -p "tiles$depth"
  for ty in 0 1; do
    for tx in 0 1 2; do
      convert grid_src.png -crop "64x64+$((tx * 64))+$((ty * 64))" +repage -background gray -extent 64x64 \
        "PNG$depth:tiles$depth/tile-0$ty-0$tx.png"
    done
  done
done
q heif-enc -q 80 -T --tiled-image-width 160 --tiled-image-height 100 tiles24/tile-00-00.png -o grid.heic
q heif-enc -q 80 -T --tiled-image-width 160 --tiled-image-height 100 tiles48/tile-00-00.png -o grid10.heic
python3 "$here/heif_edit.py" turn grid.heic 1 - grid_r1.heic
python3 "$here/heif_edit.py" turn grid.heic 2 0 grid_r2m0.heic
python3 "$here/heif_edit.py" turn grid.heic 3 1 grid_r3m1.heic
python3 "$here/heif_edit.py" turn grid.heic 0 1 grid_m1.heic
for f in heic heic_alpha avif avifenc8 avifenc10 orient6 grid grid10 grid_r1 grid_r2m0 grid_r3m1 grid_m1; do
  ext=heic
  [[ $f == avif* ]] && ext=avif
  q heif-convert "$f.$ext" "$f.ref.png"
  mogrify -strip "$f.ref.png"  # heif-convert copies the EXIF orientation along
done

# WebP: lossy, lossless, with alpha, animated; references by dwebp.
q cwebp -q 75 src.png -o lossy.webp
q cwebp -lossless src.png -o lossless.webp
q cwebp -lossless -exact alpha.png -o alpha.webp
q cwebp -q 75 alpha.png -o lossy_alpha.webp
# (dwebp's own PNG writer changes some pixels with alpha; its PAM is exact.)
for f in lossy lossless alpha lossy_alpha; do
  q dwebp "$f.webp" -pam -o "$f.ref.pam"
  convert "$f.ref.pam" "$f.ref.png"
done
q img2webp -lossless src.png negated.png -o anim.webp
q webpmux -get frame 1 anim.webp -o anim_first.webp
q dwebp anim_first.webp -pam -o anim.ref.pam
convert anim.ref.pam anim.ref.png

# TIFF: ImageMagick and tiffcp write them, tiff2rgba (libtiff's own reader)
# gives the reference.
convert src.ppm -compress zip rgb8.tif
q tiffcp -c lzw -t -w 16 -l 16 rgb8.tif tiled.tif
convert grey.pgm -compress none grey8.tif
convert src.png -colors 200 -type Palette -compress lzw palette.tif
convert src.ppm -colorspace CMYK -compress zip cmyk.tif
convert alpha.pam -compress zip alpha.tif
convert deep.ppm -depth 16 -compress zip deep16.tif
convert deep.ppm -depth 16 -colorspace Gray -compress none grey16.tif
convert deep.ppm -depth 16 -colorspace Gray -define tiff:tile-geometry=16x16 grey16_tiled.tif
convert grey16.tif grey16.pgm
cp rgb8.tif orient6.tif
q tiffset -s 274 6 orient6.tif
for f in rgb8 tiled grey8 palette cmyk alpha; do
  q tiff2rgba -c none "$f.tif" "$f.rgba.tif"
  convert "$f.rgba.tif" "$f.ref.png"
  rm "$f.rgba.tif"
done

# JPEG XL: lossless (the source is the reference) and lossy (djxl's).
q cjxl -d 0 src.png lossless.jxl
q cjxl -d 0 alpha.png alpha.jxl
q cjxl -q 80 src.png lossy.jxl
q djxl lossy.jxl lossy_jxl.ref.png
