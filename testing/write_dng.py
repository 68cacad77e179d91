#!/usr/bin/python3
"""Writes a DNG file from a camera mosaic, for the tests of the camera raw loader.

    write_dng.py MOSAIC OUT WIDTH HEIGHT PATTERN BLACK WHITE RED_NEUTRAL BLUE_NEUTRAL ISO EXPOSURE FNUMBER

MOSAIC holds WIDTH x HEIGHT little-endian 16-bit samples, row after row; PATTERN names the 2 x 2
colour-filter cells (RGGB, GRBG, GBRG or BGGR); the neutrals are the as-shot neutral of red and blue
(green is 1); EXPOSURE is the exposure time in seconds.
"""
import struct
import sys
from fractions import Fraction

import numpy
import tifffile


EXIF_IFD = 34665
ISO_SPEED = 34855
SHORT = 3


def rational(value):
    f = Fraction(value).limit_denominator(1000000)
    return (f.numerator, f.denominator)


def main(args):
    (mosaic, out, width, height, pattern, black, white, red_neutral, blue_neutral, iso, exposure,
     fnumber) = args
    width, height, black, white, iso = int(width), int(height), int(black), int(white), int(iso)
    data = numpy.fromfile(mosaic, dtype='<u2').reshape(height, width)
    cells = bytes('RGB'.index(c) for c in pattern)
    neutral = rational(red_neutral) + (1, 1) + rational(blue_neutral)
    identity = (1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1)
    tags = [
        (271, 's', 0, 'Korvel', True),
        (272, 's', 0, 'Test camera', True),
        (33421, 'H', 2, (2, 2), True),
        (33422, 'B', 4, cells, True),
        (33434, '2I', 1, rational(exposure), True),
        (33437, '2I', 1, rational(fnumber), True),
        (EXIF_IFD, 'I', 1, 0, True),
        (50706, 'B', 4, (1, 4, 0, 0), True),
        (50707, 'B', 4, (1, 1, 0, 0), True),
        (50708, 's', 0, 'Korvel Test camera', True),
        (50710, 'B', 3, (0, 1, 2), True),
        (50711, 'H', 1, 1, True),
        (50714, 'I', 1, black, True),
        (50717, 'I', 1, white, True),
        (50721, '2i', 9, identity, True),
        (50728, '2I', 3, neutral, True),
        (50778, 'H', 1, 21, True),
    ]
    tifffile.imwrite(out, data, photometric=32803, extratags=tags)
    add_exif_iso(out, iso)


def add_exif_iso(path, iso):
    """Cameras record the sensitivity in the EXIF directory, which tifffile does not write: the directory
    is appended with its one entry, and the main directory's pointer set to it."""
    with open(path, 'r+b') as f:
        f.seek(4)
        (ifd,) = struct.unpack('<I', f.read(4))
        f.seek(ifd)
        (count,) = struct.unpack('<H', f.read(2))
        entries = f.read(12 * count)
        codes = [struct.unpack_from('<H', entries, 12 * i)[0] for i in range(count)]
        pointer = ifd + 2 + 12 * codes.index(EXIF_IFD) + 8
        f.seek(0, 2)
        if f.tell() % 2:
            f.write(b'\0')
        at = f.tell()
        f.write(struct.pack('<HHHIHHI', 1, ISO_SPEED, SHORT, 1, iso, 0, 0))
        f.seek(pointer)
        f.write(struct.pack('<I', at))


if __name__ == '__main__':
    if len(sys.argv) != 13:
        sys.exit(__doc__)
    main(sys.argv[1:])
