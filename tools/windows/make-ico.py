#!/usr/bin/python3
"""Packs PNG images into one Windows icon file (.ico), each image stored as PNG, which
Windows reads at every size since Vista:

    make-ico.py OUT.ico IMAGE.png...
"""

import struct
import sys


def png_size(data, name):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit(f"make-ico.py: {name} is not a PNG image")
    return struct.unpack(">II", data[16:24])


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: make-ico.py OUT.ico IMAGE.png...")
    images = []
    for name in sys.argv[2:]:
        with open(name, "rb") as f:
            data = f.read()
        width, height = png_size(data, name)
        if width > 256 or height > 256:
            sys.exit(f"make-ico.py: {name} is larger than 256 pixels")
        images.append((width, height, data))
    images.sort(key=lambda image: image[0])
    # ICONDIR, then one ICONDIRENTRY per image (a size of 256 is written as 0), then the data.
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for width, height, data in images:
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(header + entries + blobs)


if __name__ == "__main__":
    main()
