#!/usr/bin/env python3
"""Checks an x3p file with Python's own zipfile and hashlib: every entry's
CRC-32, main.xml first, the MD5 sum of the point data that main.xml gives,
and the MD5 sum of main.xml in md5checksum.hex (md5sum's form, lower case).
Optionally the point data against an SDF file of the same conversion: each
height is the listed value times the double Zscale reads as, NaN where the
value is 4294967295.

    x3p_sums.py file.x3p [ascii.sdf]
"""
import hashlib
import math
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile


def fail(what):
    print("FAILED:", what)
    sys.exit(1)


def main():
    with zipfile.ZipFile(sys.argv[1]) as z:
        bad = z.testzip()
        if bad is not None:
            fail("CRC-32 of %s" % bad)
        names = z.namelist()
        if names[0] != "main.xml":
            fail("main.xml is not the first entry: %s" % names)
        xml = z.read("main.xml")
        root = ET.fromstring(xml)
        if root.tag != "{http://www.opengps.eu/2008/ISO5436_2}ISO5436_2":
            fail("root element %s" % root.tag)
        link = root.find("Record3/DataLink/PointDataLink").text
        want = root.find("Record3/DataLink/MD5ChecksumPointData").text
        data = z.read(link)
        if hashlib.md5(data).hexdigest() != want.lower():
            fail("MD5ChecksumPointData")
        sums = z.read(root.find("Record4/ChecksumFile").text).decode("ascii")
        if sums != hashlib.md5(xml).hexdigest() + " *main.xml\n":
            fail("md5checksum.hex says %r" % sums)
        size = [int(root.find("Record3/MatrixDimension/Size" + a).text) for a in "XYZ"]
        if len(data) != size[0] * size[1] * size[2] * 8:
            fail("point data size")
    if len(sys.argv) > 2:
        text = open(sys.argv[2], encoding="latin-1").read()
        zscale = float(text.split("\nZscale = ")[1].split("\n")[0])
        listed = [int(v) for v in text.split("\n*\n")[1].split("*")[0].split()]
        heights = struct.unpack("<%dd" % (len(data) // 8), data)
        if len(listed) != len(heights):
            fail("point count differs from the SDF file")
        for i, (v, h) in enumerate(zip(listed, heights)):
            if v == 4294967295 and not math.isnan(h):
                fail("point %d should be NaN" % i)
            if v != 4294967295 and h != v * zscale:
                fail("point %d: %r, SDF says %r" % (i, h, v * zscale))
    print("%s: CRC-32 and both MD5 sums agree, %d points" % (sys.argv[1], len(data) // 8))


main()
