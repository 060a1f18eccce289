#!/usr/bin/env python3
"""Edits the boxes of a HEIF that heif-enc wrote, to make what it cannot:

  heif_edit.py aux-refs IN TO OUT
      The first 'auxl' reference (one auxiliary image for one image) gets a
      second target, item TO: an auxiliary image that refers to more than
      one image, as current phones write their HDR gain maps.
  heif_edit.py turn IN ANGLE MIRROR OUT
      The primary image gets an 'irot' of ANGLE quarter turns
      anticlockwise and, unless MIRROR is '-', an 'imir' about axis MIRROR
      (0: top and bottom swap, 1: left and right), as cameras store
      pictures taken upright.

Box sizes and item locations are mended for the bytes put in.
"""
import struct
import sys

data = bytearray(open(sys.argv[2], 'rb').read())


def boxes(start, end):
    """(offset, size, type) of each box in data[start:end]."""
    at = start
    while at < end:
        size, kind = struct.unpack('>I4s', data[at:at + 8])
        yield at, size, kind.decode('latin-1')
        at += size


def child(parent, kind, header=8):
    return next(b for b in boxes(parent[0] + header, parent[0] + parent[1]) if b[2] == kind)


meta = child((0, len(data)), 'meta', 0)
FULL = 12  # header of a full box


def iloc_offsets():
    """Offsets in `data` of each item's file offsets (base or extents)."""
    iloc = child(meta, 'iloc', FULL)
    at = iloc[0] + 8
    version = data[at]
    sizes = data[at + 4] << 8 | data[at + 5]
    offset_size, length_size, base_size = sizes >> 12, sizes >> 8 & 15, sizes >> 4 & 15
    index_size = sizes & 15 if version in (1, 2) else 0
    at += 6
    wide = version == 2
    items = int.from_bytes(data[at:at + (4 if wide else 2)], 'big')
    at += 4 if wide else 2
    found = []
    for _ in range(items):
        at += 4 if wide else 2
        method = 0
        if version in (1, 2):
            method = (data[at] << 8 | data[at + 1]) & 15
            at += 2
        at += 2  # data reference index
        if method == 0 and base_size:
            found.append((at, base_size))
        at += base_size
        extents = struct.unpack('>H', data[at:at + 2])[0]
        at += 2
        for _ in range(extents):
            at += index_size
            if method == 0 and offset_size:
                found.append((at, offset_size))
            at += offset_size + length_size
    return found


def insert(at, payload, enclosing):
    """Puts `payload` at `at` inside the boxes `enclosing` (meta among them)."""
    for place, size in iloc_offsets():
        value = int.from_bytes(data[place:place + size], 'big')
        if value >= at:
            data[place:place + size] = (value + len(payload)).to_bytes(size, 'big')
    for box in enclosing:
        struct.pack_into('>I', data, box[0], box[1] + len(payload))
    data[at:at] = payload


if sys.argv[1] == 'aux-refs':
    target, out = int(sys.argv[3]), sys.argv[4]
    iref = child(meta, 'iref', FULL)
    if data[iref[0] + 8] != 0:
        sys.exit('only 16-bit item IDs are handled')
    ref = child(iref, 'auxl', FULL)
    count_at = ref[0] + 10
    if struct.unpack('>H', data[count_at:count_at + 2])[0] != 1:
        sys.exit('the auxl reference does not have one target')
    struct.pack_into('>H', data, count_at, 2)
    insert(ref[0] + ref[1], struct.pack('>H', target), [ref, iref, meta])
elif sys.argv[1] == 'turn':
    angle, mirror, out = int(sys.argv[3]), sys.argv[4], sys.argv[5]
    primary = struct.unpack('>H', data[child(meta, 'pitm', FULL)[0] + 12:][:2])[0]
    props = [struct.pack('>I4sB', 9, b'irot', angle)]
    if mirror != '-':
        props.append(struct.pack('>I4sB', 9, b'imir', int(mirror)))
    # The new properties go at the end of ipco, their indices to the end of
    # the primary's associations in ipma (after ipco, so it moves first).
    iprp = child(meta, 'iprp', FULL)
    ipco = child(iprp, 'ipco')
    ipma = child(iprp, 'ipma')
    first = sum(1 for _ in boxes(ipco[0] + 8, ipco[0] + ipco[1])) + 1
    version, flags = data[ipma[0] + 8], data[ipma[0] + 11]
    if version != 0 or flags & 1:
        sys.exit('only ipma version 0 with 7-bit indices is handled')
    at = ipma[0] + 16
    for _ in range(struct.unpack('>I', data[ipma[0] + 12:ipma[0] + 16])[0]):
        item, count = struct.unpack('>HB', data[at:at + 3])
        if item == primary:
            data[at + 2] = count + len(props)
            insert(at + 3 + count, bytes(0x80 | (first + i) for i in range(len(props))), [ipma, iprp, meta])
            break
        at += 3 + count
    else:
        sys.exit('the primary image has no properties')
    meta = child((0, len(data)), 'meta', 0)
    iprp = child(meta, 'iprp', FULL)
    ipco = child(iprp, 'ipco')
    insert(ipco[0] + ipco[1], b''.join(props), [ipco, iprp, meta])
else:
    sys.exit(__doc__)
open(out, 'wb').write(data)
