#!/usr/bin/env bash
# Regenerates the small picture files the codec tests decode. Most are
# written by ImageMagick (a second encoder); the BMP variants it cannot
# write (RLE4, OS/2 core header, bit-field masks, top-down rows, RLE8 with
# moves) are built byte by byte here. The test program computes the same
# source pictures, so keep the formulas below and in fixture_test.cpp
# in step.
#
# Pictures:
#   smooth 32x24  (8x, 10y, 255-4x-4y)
#   pal16  16x12  T16[(x/2 + y) % 16],  T16[i] = (17i, 255-17i, 53i mod 256)
#   pal40  16x12  T40[(x + 3y) % 40],   T40[i] = (6i, 255-6i, 53i mod 256)
#   bw     16x12  black where ((x ^ y) & 2) != 0, else white
#   grey   32x24  5x + 4y in all channels
#   alpha  16x12  pal16's colours with alpha 17x
# Needs: ImageMagick's convert, python3.
set -euo pipefail
cd "$(dirname "$0")/fixtures"
rm -f ./*.bmp ./*.png ./*.gif ./*.jpg ./*.jpeg
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 - "$tmp" <<'PY'
import sys
out = sys.argv[1]
def t16(i): return (17 * i, 255 - 17 * i, (53 * i) % 256)
def t40(i): return (6 * i, 255 - 6 * i, (53 * i) % 256)
pics = {
  'smooth': (32, 24, lambda x, y: (8 * x, 10 * y, 255 - 4 * x - 4 * y)),
  'pal16': (16, 12, lambda x, y: t16((x // 2 + y) % 16)),
  'pal40': (16, 12, lambda x, y: t40((x + 3 * y) % 40)),
  'bw': (16, 12, lambda x, y: (0, 0, 0) if (x ^ y) & 2 else (255, 255, 255)),
  'grey': (32, 24, lambda x, y: (5 * x + 4 * y,) * 3),
}
for name, (w, h, f) in pics.items():
  with open(f'{out}/{name}.ppm', 'wb') as fh:
    fh.write(b'P6 %d %d 255\n' % (w, h))
    fh.write(bytes(c for y in range(h) for x in range(w) for c in f(x, y)))
with open(f'{out}/grey.pgm', 'wb') as fh:
  fh.write(b'P5 32 24 255\n' + bytes(5 * x + 4 * y for y in range(24) for x in range(32)))
with open(f'{out}/alpha.pam', 'wb') as fh:
  fh.write(b'P7\nWIDTH 16\nHEIGHT 12\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n')
  fh.write(bytes(c for y in range(12) for x in range(16) for c in t16((x // 2 + y) % 16) + (17 * x,)))
with open(f'{out}/binary_alpha.pam', 'wb') as fh:
  fh.write(b'P7\nWIDTH 16\nHEIGHT 12\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n')
  fh.write(bytes(c for y in range(12) for x in range(16)
                 for c in t16((x // 2 + y) % 16) + ((0 if (x // 2 + y) % 16 == 0 else 255),)))
PY

# --- written by ImageMagick ---
convert "$tmp/smooth.ppm" BMP3:bmp24.bmp
convert "$tmp/pal40.ppm" -type Palette -compress None BMP3:bmp8.bmp
convert "$tmp/pal40.ppm" -type Palette -compress RLE BMP3:bmp8_rle.bmp
convert "$tmp/pal16.ppm" -type Palette -compress None BMP3:bmp4.bmp
convert "$tmp/bw.ppm" -type Palette BMP3:bmp1.bmp
convert "$tmp/alpha.pam" BMP:bmp32_v5.bmp
convert "$tmp/smooth.ppm" BMP2:bmp24_os2.bmp

convert "$tmp/smooth.ppm" PNG24:png_rgb.png
convert "$tmp/smooth.ppm" -define png:bit-depth=16 PNG48:png_rgb16.png
convert "$tmp/pal40.ppm" PNG8:png_palette.png
convert "$tmp/grey.pgm" -define png:color-type=0 -depth 8 png_grey8.png
convert "$tmp/grey.pgm" -define png:color-type=0 -define png:bit-depth=16 png_grey16.png
convert "$tmp/bw.ppm" -define png:color-type=0 -define png:bit-depth=1 png_grey1.png
convert "$tmp/smooth.ppm" -interlace PNG PNG24:png_interlaced.png
convert "$tmp/alpha.pam" PNG32:png_rgba.png
convert "$tmp/alpha.pam" -define png:bit-depth=16 PNG64:png_rgba16.png
convert "$tmp/binary_alpha.pam" PNG8:png_palette_trns.png

convert "$tmp/pal40.ppm" gif_plain.gif
convert "$tmp/pal40.ppm" -interlace GIF gif_interlaced.gif
convert "$tmp/binary_alpha.pam" gif_transparent.gif
convert "$tmp/pal16.ppm" "$tmp/bw.ppm" -loop 0 gif_two_frames.gif

convert "$tmp/smooth.ppm" -quality 95 -sampling-factor 2x2 jpeg_420.jpg
convert "$tmp/smooth.ppm" -quality 95 -sampling-factor 1x1 jpeg_444.jpeg
convert "$tmp/smooth.ppm" -quality 95 -interlace JPEG jpeg_progressive.jpg
convert "$tmp/grey.pgm" -quality 95 jpeg_grey.jpg
convert "$tmp/smooth.ppm" -quality 95 -colorspace CMYK jpeg_cmyk.jpg

# A PNG under a JPEG name.
cp png_rgb.png png_named.jpg

# --- built byte by byte ---
python3 - <<'PY'
import struct
def t16(i): return (17 * i, 255 - 17 * i, (53 * i) % 256)
def t40(i): return (6 * i, 255 - 6 * i, (53 * i) % 256)
def smooth(x, y): return (8 * x, 10 * y, 255 - 4 * x - 4 * y)

def bmp(name, header, palette, pixels, extra=b''):
  off = 14 + len(header) + len(extra) + len(palette)
  data = header + extra + palette + pixels
  with open(name, 'wb') as fh:
    fh.write(b'BM' + struct.pack('<IHHI', 14 + len(data), 0, 0, off) + data)

def info(w, h, bits, compression=0, colors=0, size=40):
  head = struct.pack('<IiiHHIIiiII', size, w, h, 1, bits, compression, 0, 2835, 2835, colors, 0)
  return head + b'\0' * (size - 40)

def pad(row):
  return row + b'\0' * (-len(row) % 4)

def quads(colors):
  return b''.join(bytes((b, g, r, 0)) for r, g, b in colors)

# 24-bit, top-down rows (negative height).
rows = [pad(b''.join(bytes((b, g, r)) for r, g, b in (smooth(x, y) for x in range(32)))) for y in range(24)]
bmp('bmp24_topdown.bmp', info(32, -24, 24), b'', b''.join(rows))

# OS/2 core header (12 bytes), 8-bit, three-byte colour table.
core = struct.pack('<IHHHH', 12, 16, 12, 1, 8)
pal = b''.join(bytes((b, g, r)) for r, g, b in (t40(i) for i in range(40)))
rows = [pad(bytes((x + 3 * y) % 40 for x in range(16))) for y in reversed(range(12))]
bmp('bmp8_os2.bmp', core, pal, b''.join(rows))

# 16-bit 5-5-5 without masks (the default layout): channels cut to 5 bits.
def p555(r, g, b): return (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)
rows = [pad(b''.join(struct.pack('<H', p555(*smooth(x, y))) for x in range(32))) for y in reversed(range(24))]
bmp('bmp16_555.bmp', info(32, 24, 16), b'', b''.join(rows))

# 16-bit 5-6-5 with bit-field masks after a 40-byte header.
def p565(r, g, b): return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)
rows = [pad(b''.join(struct.pack('<H', p565(*smooth(x, y))) for x in range(32))) for y in reversed(range(24))]
bmp('bmp16_565.bmp', info(32, 24, 16, 3), b'', b''.join(rows), struct.pack('<III', 0xF800, 0x07E0, 0x001F))

# 32-bit with 10-bit channels (masks 0x3FF00000, 0x000FFC00, 0x000003FF) in a
# 56-byte header; each 8-bit value v is stored as v * 4 + 3.
def p1010(r, g, b): return (r * 4 + 3) << 20 | (g * 4 + 3) << 10 | (b * 4 + 3)
head = info(32, 24, 32, 3, size=56)
head = head[:40] + struct.pack('<IIII', 0x3FF00000, 0x000FFC00, 0x000003FF, 0)
rows = [b''.join(struct.pack('<I', p1010(*smooth(x, y))) for x in range(32)) for y in reversed(range(24))]
bmp('bmp32_fields.bmp', head, b'', b''.join(rows))

# RLE8 with runs, literal runs, an end-of-line and a move (delta). Rows are
# stored bottom first; the pixels a move skips take colour 0.
# Picture 16x12 of pal40 indices (x + 3y) % 40, except that on the bottom
# row x = 4..7 are skipped by a move.
data = b''
for r, y in enumerate(reversed(range(12))):
  idx = [(x + 3 * y) % 40 for x in range(16)]
  if r == 0:
    data += bytes((0, 4)) + bytes(idx[0:4])          # literal run of 4
    data += bytes((0, 2, 4, 0))                       # move 4 right
    data += bytes((0, 8)) + bytes(idx[8:16])         # literal run of 8
  else:
    data += bytes((0, 16)) + bytes(idx)               # literal run of 16
  data += bytes((0, 0))                               # end of line
data += bytes((0, 1))                                 # end of picture
bmp('bmp8_rle_delta.bmp', info(16, 12, 8, 1, 40), quads(t40(i) for i in range(40)), data)

# RLE4: pal16 indices (x/2 + y) % 16 come in pairs, so each row is eight runs
# of two; the top row is written as a literal run instead.
data = b''
for y in reversed(range(12)):
  idx = [(x // 2 + y) % 16 for x in range(16)]
  if y == 0:
    packed = bytes(idx[i] << 4 | idx[i + 1] for i in range(0, 16, 2))
    data += bytes((0, 16)) + packed                   # literal run of 16 (8 bytes, even)
  else:
    for x in range(0, 16, 2):
      data += bytes((2, idx[x] << 4 | idx[x]))        # run of two equal indices
  data += bytes((0, 0))
data += bytes((0, 1))
bmp('bmp4_rle.bmp', info(16, 12, 4, 2, 16), quads(t16(i) for i in range(16)), data)
PY
ls -l
du -sh .
