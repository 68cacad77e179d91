#!/usr/bin/python3
"""Writes a DNG file from a camera mosaic, for the tests of the camera raw loader.

    write_dng.py MOSAIC OUT WIDTH HEIGHT PATTERN BLACK WHITE RED_NEUTRAL BLUE_NEUTRAL ISO EXPOSURE FNUMBER

MOSAIC holds WIDTH x HEIGHT little-endian 16-bit samples, row after row; PATTERN names the 2 x 2
colour-filter cells (RGGB, GRBG, GBRG or BGGR); the neutrals are the as-shot neutral of red and blue
(green is 1); EXPOSURE is the exposure time in seconds.
"""
import sys
from fractions import Fraction

import numpy
import tifffile


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


if __name__ == '__main__':
    if len(sys.argv) != 13:
        sys.exit(__doc__)
    main(sys.argv[1:])
