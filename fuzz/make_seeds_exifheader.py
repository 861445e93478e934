#!/usr/bin/env python3
"""Makes the seed corpus of fuzz_exifheader from a few small camera files of
the shared corpus: for each, the JPEG stream up to the end of its EXIF
segment (the image data adds nothing the reader looks at) and the bare TIFF
block of that segment.

    python3 fuzz/make_seeds_exifheader.py [shared corpus folder]
"""
import os
import struct
import sys

FILES = ["Canon_40D.jpg", "Canon_40D_photoshop_import.jpg", "Fujifilm_FinePix_E500.jpg",
         "Kodak_CX7530.jpg", "Pentax_K10D.jpg", "orientation_portrait_6.jpg"]


def exif_head(data):
    """The bytes up to the end of the first APP1 segment, and its TIFF block."""
    at = 2
    while at + 4 <= len(data):
        marker, length = struct.unpack(">HH", data[at:at + 4])
        end = at + 2 + length
        if marker == 0xFFE1:
            return data[:end], data[at + 10:end]
        at = end
    raise ValueError("no APP1 segment")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "shared", "corpus")
    target = os.path.join(here, "corpus", "fuzz_exifheader")
    os.makedirs(target, exist_ok=True)
    for name in FILES:
        with open(os.path.join(source, "exif", name), "rb") as f:
            head, block = exif_head(f.read())
        stem = os.path.splitext(name)[0]
        with open(os.path.join(target, stem + "-head.jpg"), "wb") as f:
            f.write(head + b"\xff\xd9")
        with open(os.path.join(target, stem + "-block.tif"), "wb") as f:
            f.write(block)


if __name__ == "__main__":
    main()
