#!/usr/bin/env python3
"""Writes a binary SDF file as other programs write them, after the format's
published description: version bBCR-1.0, no trailer, ULONGINT data (type 2),
rows twice as far apart as the points, a tilted plane with ripples on it and
some points missing (the type's largest value, which Gwyddion masks too).

    foreign_sdf.py OUT.sdf
"""
import math
import struct
import sys

POINTS, PROFILES = 50, 40
values = []
for y in range(PROFILES):
    for x in range(POINTS):
        if (x * 7 + y * 3) % 23 == 0:
            values.append(4294967295)
        else:
            z = 40 * x - 25 * y + 900 * math.sin(x / 5.0) * math.cos(y / 7.0) + (x * y) % 17
            values.append(100000 + int(round(z)))
header = (b"bBCR-1.0" + b"OtherProg ".ljust(10) + b"010120250000" + b"000000000000" +
          struct.pack("<HH", POINTS, PROFILES) +
          struct.pack("<dddd", 1e-6, 2e-6, 1e-9, -1.0) + bytes([0, 2, 0]))
assert len(header) == 81
with open(sys.argv[1], "wb") as f:
    f.write(header + struct.pack("<%dI" % len(values), *values))
