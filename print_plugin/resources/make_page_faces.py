#!/usr/bin/env python3
# Draws the print dialog's page-button faces (16 x 16 RGB PNG): an arrow pointing left for the previous
# page and right for the next, on a framed face in the button's state. Run from this folder; the PNG files
# it writes are kept in the tree.
import struct
import zlib

SIZE = 16
# State: face, frame, arrow, and the arrow's shift (a pressed button's arrow sinks by a pixel).
STATES = {
    "normal": ((0xE4, 0xEA, 0xF4), (0x8A, 0x9C, 0xBA), (0x2E, 0x4C, 0x82), 0),
    "hot": ((0xF4, 0xF8, 0xFF), (0x4A, 0x7C, 0xD0), (0x1E, 0x5C, 0xC8), 0),
    "pressed": ((0xC4, 0xCF, 0xE0), (0x5A, 0x6C, 0x8A), (0x1A, 0x30, 0x5A), 1),
    "disabled": ((0xEC, 0xEC, 0xEC), (0xC0, 0xC0, 0xC0), (0xA4, 0xA4, 0xA4), 0),
}
# The resource ids: previous normal, hot, pressed, disabled; next normal, pressed, hot, disabled.
FACES = {1022: ("left", "normal"), 1023: ("left", "hot"), 1024: ("left", "pressed"),
         1025: ("left", "disabled"), 1026: ("right", "normal"), 1027: ("right", "pressed"),
         1028: ("right", "hot"), 1029: ("right", "disabled")}


def in_arrow(x, y, pointing):
    # The apex at column 4 (left) or 11 (right), the base seven columns on, nine rows high.
    reach = x - 4 if pointing == "left" else 11 - x
    return 0 <= reach <= 7 and abs(y - 7.5) <= reach * 0.6 + 0.5


def face(pointing, state):
    back, frame, arrow, shift = STATES[state]
    rows = []
    for y in range(SIZE):
        row = bytearray([0])
        for x in range(SIZE):
            edge = x in (0, SIZE - 1) or y in (0, SIZE - 1)
            colour = frame if edge else arrow if in_arrow(x - shift, y - shift, pointing) else back
            row += bytes(colour)
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9)) +
            chunk(b"IEND", b""))


for number, (pointing, state) in FACES.items():
    with open("print%d.png" % number, "wb") as out:
        out.write(png(face(pointing, state)))
