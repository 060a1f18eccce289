#!/usr/bin/env python3
"""Makes a HEIF whose auxiliary image refers to more than one image, as
current phones write their HDR gain maps: the first 'auxl' reference of
IN (one auxiliary image for one image) is given a second target, TO, and
the file is written to OUT with its box sizes and item locations mended.

Usage: heif_aux_refs.py IN TO OUT
"""
import struct
import sys

src, target, dst = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = bytearray(open(src, 'rb').read())


def boxes(buf, start, end):
    """(offset, size, type) of each box in buf[start:end]."""
    at = start
    while at < end:
        size, kind = struct.unpack('>I4s', buf[at:at + 8])
        yield at, size, kind.decode('latin-1')
        at += size


meta = next(b for b in boxes(data, 0, len(data)) if b[2] == 'meta')
children = list(boxes(data, meta[0] + 12, meta[0] + meta[1]))  # meta is a full box
iref = next(b for b in children if b[2] == 'iref')
iloc = next(b for b in children if b[2] == 'iloc')
if data[iref[0] + 8] != 0:
    sys.exit('only 16-bit item IDs are handled')
ref = next(b for b in boxes(data, iref[0] + 12, iref[0] + iref[1]) if b[2] == 'auxl')
count_at = ref[0] + 10
if struct.unpack('>H', data[count_at:count_at + 2])[0] != 1:
    sys.exit('the auxl reference does not have one target')

# Two more bytes inside meta: the reference, iref and meta grow, and every
# item's data (in mdat, after meta) moves along.
insert_at = ref[0] + ref[1]
grow = 2
for box in (ref, iref, meta):
    struct.pack_into('>I', data, box[0], box[1] + grow)
struct.pack_into('>H', data, count_at, 2)

# iloc: version, then offset/length/base-offset/index sizes in nibbles.
at = iloc[0] + 8
version = data[at]
sizes = data[at + 4] << 8 | data[at + 5]
offset_size, length_size, base_size = sizes >> 12, sizes >> 8 & 15, sizes >> 4 & 15
index_size = sizes & 15 if version in (1, 2) else 0
at += 6
count_format = '>I' if version == 2 else '>H'
items = struct.unpack(count_format, data[at:at + struct.calcsize(count_format)])[0]
at += struct.calcsize(count_format)


def moved(at, size):
    """Adds `grow` to the file offset of `size` bytes at `at`, if any."""
    if size == 0:
        return
    value = int.from_bytes(data[at:at + size], 'big')
    if value >= insert_at:
        data[at:at + size] = (value + grow).to_bytes(size, 'big')


for _ in range(items):
    at += 4 if version == 2 else 2
    method = 0
    if version in (1, 2):
        method = (data[at] << 8 | data[at + 1]) & 15
        at += 2
    at += 2  # data reference index
    base_at = at
    at += base_size
    extents = struct.unpack('>H', data[at:at + 2])[0]
    at += 2
    if method != 0:  # not a file offset
        at += extents * (index_size + offset_size + length_size)
        continue
    moved(base_at, base_size)
    for _ in range(extents):
        at += index_size
        moved(at, offset_size)
        at += offset_size + length_size

data[insert_at:insert_at] = struct.pack('>H', target)
open(dst, 'wb').write(data)
