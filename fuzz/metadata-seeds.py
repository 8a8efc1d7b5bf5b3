#!/usr/bin/env python3
"""Writes seed headers of camera-photo JPEGs into the folder given: EXIF with
an orientation, an Exif sub-IFD with pixel dimensions, a GPS entry and a
preview (IFD1), an XMP packet and an ICC profile in two APP2 chunks, then a
frame header. Enough for the metadata path and the probe; no scan data.
With --turn FOLDER JPEG...: each whole JPEG given, once for every
orientation 2 to 8 (an EXIF segment put after its start of image), for the
decodes that turn pictures upright."""
import struct
import sys


def segment(code, payload):
    return bytes([0xFF, code]) + struct.pack('>H', len(payload) + 2) + payload


def exif(order, orientation, preview=b'\xff\xd8' + b'\x00' * 300 + b'\xff\xd9'):
    e = '<' if order == b'II' else '>'
    def ifd(entries, next_ifd):
        out = struct.pack(e + 'H', len(entries))
        for tag, typ, count, value in entries:
            out += struct.pack(e + 'HHI', tag, typ, count)
            out += struct.pack(e + 'HH', value, 0) if typ == 3 else struct.pack(e + 'I', value)
        return out + struct.pack(e + 'I', next_ifd)
    ifd0_at, exif_at, gps_at = 8, 8 + 2 + 3 * 12 + 4, 8 + 2 + 3 * 12 + 4 + 2 + 2 * 12 + 4
    ifd1_at = gps_at + 2 + 12 + 4
    thumb_at = ifd1_at + 2 + 2 * 12 + 4
    tiff = order + struct.pack(e + 'HI', 42, ifd0_at)
    tiff += ifd([(0x0112, 3, 1, orientation), (0x8769, 4, 1, exif_at), (0x8825, 4, 1, gps_at)], ifd1_at)
    tiff += ifd([(0xA002, 4, 1, 4000), (0xA003, 3, 1, 3000)], 0)
    tiff += ifd([(0x0001, 2, 2, int.from_bytes(b'N\0\0\0', 'little' if e == '<' else 'big'))], 0)
    tiff += ifd([(0x0201, 4, 1, thumb_at), (0x0202, 4, 1, len(preview))], 0)
    return b'Exif\0\0' + tiff + preview


def main(folder):
    profile = bytearray(3000)
    profile[0:4] = struct.pack('>I', len(profile))
    profile[16:20] = b'RGB '
    profile[36:40] = b'acsp'
    xmp = (b'http://ns.adobe.com/xap/1.0/\0<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF>'
           b'<rdf:Description tiff:Orientation="6"/></rdf:RDF></x:xmpmeta>')
    jfif = segment(0xE0, b'JFIF\0\x01\x01\0\0\x01\0\x01\0\0')
    frame = segment(0xC0, b'\x08\x0b\xb8\x0f\xa0\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01')
    icc = b''.join(segment(0xE2, b'ICC_PROFILE\0' + bytes([n, 2]) + bytes(profile[(n - 1) * 1500:n * 1500]))
                   for n in (2, 1))
    for name, order, orientation in (('camera-mm-6', b'MM', 6), ('camera-ii-8', b'II', 8),
                                     ('camera-ii-3', b'II', 3)):
        with open(f'{folder}/{name}', 'wb') as f:
            f.write(b'\xff\xd8' + jfif + segment(0xE1, exif(order, orientation)) + segment(0xE1, xmp)
                    + icc + frame)


def turned(folder, pictures):
    for picture in pictures:
        with open(picture, 'rb') as f:
            data = f.read()
        name = picture.rsplit('/', 1)[-1].rsplit('.', 1)[0]
        for orientation in range(2, 9):
            order = b'MM' if orientation % 2 else b'II'
            with open(f'{folder}/turned-{orientation}-{name}.jpg', 'wb') as f:
                f.write(data[:2] + segment(0xE1, exif(order, orientation, b'')) + data[2:])


if sys.argv[1] == '--turn':
    turned(sys.argv[2], sys.argv[3:])
else:
    main(sys.argv[1])
