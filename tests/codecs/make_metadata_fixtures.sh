#!/usr/bin/env bash
# Regenerates the files the metadata tests read, with ImageMagick (the
# pictures) and exiftool (the metadata), a second tool beside exiv2.
#
#   orient1..8.jpg/.png  48 x 32 upright: corners red (top left), green
#                        (top right), blue (bottom left), white (bottom
#                        right), grey elsewhere, 16 x 16 each; stored turned
#                        or mirrored so that the EXIF orientation N puts them
#                        upright again (checked with ImageMagick's -auto-orient)
#   camera.jpg/.png      64 x 48 with EXIF (camera, date, GPS, a thumbnail),
#                        XMP, IPTC and an ICC profile (profile.icc)
#   damaged-*.jpg        camera.jpg with its EXIF broken: cut short, an IFD
#                        that points at itself, a tag with a huge count
# Needs: ImageMagick's convert and compare, exiftool (libimage-exiftool-perl), python3.
set -euo pipefail
cd "$(dirname "$0")/fixtures/metadata"
rm -f ./*.jpg ./*.png ./*.icc
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

convert -size 48x32 xc:'#808080' \
  -fill red -draw 'rectangle 0,0 15,15' -fill lime -draw 'rectangle 32,0 47,15' \
  -fill blue -draw 'rectangle 0,16 15,31' -fill white -draw 'rectangle 32,16 47,31' \
  "$tmp/upright.png"
ops=("" "" "-flop" "-rotate 180" "-flip" "-transpose" "-rotate -90" "-transverse" "-rotate 90")
for n in 1 2 3 4 5 6 7 8; do
  for ext in png jpg; do
    # shellcheck disable=SC2086
    convert "$tmp/upright.png" ${ops[$n]} -quality 95 -sampling-factor 1x1 "orient$n.$ext"
    exiftool -q -q -overwrite_original -n -Orientation="$n" "orient$n.$ext"
  done
  # ImageMagick reads the orientation of JPEG files (not of PNG eXIf).
  convert "orient$n.jpg" -auto-orient "$tmp/check.png"
  [[ "$(compare -metric AE -fuzz 8% "$tmp/upright.png" "$tmp/check.png" null: 2>&1)" == 0 ]] || {
    echo "orientation $n does not come back upright" >&2; exit 1; }
done

# An ICC profile: a version 2 header and one tag (a description), made
# here byte by byte; only its bytes matter to the tests.
python3 - <<'PY'
import struct
desc = b'Tessarin test profile\0'
tag = b'desc' + b'\0' * 4 + struct.pack('>I', len(desc)) + desc + b'\0' * 67
tag += b'\0' * (-len(tag) % 4)
count = 1
offset = 128 + 4 + 12 * count
size = offset + len(tag)
header = struct.pack('>I4sI4s4s4s12s4s4sI4s4sQI12s4s16s28s', size, b'TSRN', 0x02100000, b'mntr', b'RGB ',
                     b'XYZ ', b'\0' * 12, b'acsp', b'APPL', 0, b'\0' * 4, b'\0' * 4, 0, 0,
                     struct.pack('>iii', 63190, 65536, 54061), b'TSRN', b'\0' * 16, b'\0' * 28)
assert len(header) == 128
table = struct.pack('>I', count) + b'desc' + struct.pack('>II', offset, len(tag))
open('profile.icc', 'wb').write(header + table + tag)
PY

convert -size 64x48 gradient:'#c04020-#2060c0' "$tmp/camera.png"
convert "$tmp/camera.png" -resize 16x12 "$tmp/thumb.jpg"
for ext in jpg png; do
  convert "$tmp/camera.png" -quality 95 "camera.$ext"
  exiftool -q -overwrite_original \
    -EXIF:Make=TestCam -EXIF:Model='Tessarin Test Camera' -EXIF:DateTimeOriginal='2024:05:01 10:20:30' \
    -EXIF:GPSLatitude=48.8584 -EXIF:GPSLatitudeRef=N -EXIF:GPSLongitude=2.2945 -EXIF:GPSLongitudeRef=E \
    -EXIF:Copyright='Tessarin developers' -EXIF:Orientation=1 -n \
    -XMP-dc:Title='Boats at dusk' -XMP-dc:Creator='Tessarin developers' \
    -IPTC:Keywords=boats -IPTC:City=Keswick \
    '-ICC_Profile<=profile.icc' "camera.$ext"
done
exiftool -q -overwrite_original '-ThumbnailImage<='"$tmp/thumb.jpg" camera.jpg

# Damaged EXIF: the APP1 segment of camera.jpg rewritten.
python3 - <<'PY'
import struct
data = open('camera.jpg', 'rb').read()
i = 2
while True:
    marker, length = data[i + 1], struct.unpack('>H', data[i + 2:i + 4])[0]
    if marker == 0xE1 and data[i + 4:i + 10] == b'Exif\0\0':
        break
    i += 2 + length
start, end = i + 10, i + 2 + length        # the TIFF structure
tiff = bytearray(data[start:end])
big = tiff[:2] == b'MM'
u16 = '>H' if big else '<H'
u32 = '>I' if big else '<I'
ifd0 = struct.unpack(u32, tiff[4:8])[0]
entries = struct.unpack(u16, tiff[ifd0:ifd0 + 2])[0]

def write(name, tiff_bytes):
    segment = b'Exif\0\0' + bytes(tiff_bytes)
    out = data[:i] + b'\xff\xe1' + struct.pack('>H', len(segment) + 2) + segment + data[end:]
    open(name, 'wb').write(out)

write('damaged-truncated.jpg', tiff[:ifd0 + 2 + 12 * (entries // 2)])
loop = bytearray(tiff)
loop[ifd0 + 2 + 12 * entries:ifd0 + 6 + 12 * entries] = struct.pack(u32, ifd0)   # next IFD: itself
write('damaged-loop.jpg', loop)
count = bytearray(tiff)
entry = ifd0 + 2                                                                   # first tag's count
count[entry + 4:entry + 8] = struct.pack(u32, 0x7fffffff)
write('damaged-count.jpg', count)
PY
ls -la
