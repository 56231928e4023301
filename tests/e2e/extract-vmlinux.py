#!/usr/bin/env python3
"""Writes the ELF kernel packed inside a bzImage (its xz or gzip payload).

Usage: extract-vmlinux.py BZIMAGE OUT
Exits 1 when no payload in the image unpacks to an ELF file.
"""
import lzma
import sys
import zlib


def payloads(image):
    """Each candidate payload decompressed, in the order found."""
    for magic, unpack in ((b"\xfd7zXZ\x00", _xz), (b"\x1f\x8b\x08", _gzip)):
        start = image.find(magic)
        while start >= 0:
            try:
                yield unpack(image[start:])
            except (lzma.LZMAError, zlib.error, EOFError):
                pass
            start = image.find(magic, start + 1)


def _xz(data):
    return lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data)


def _gzip(data):
    return zlib.decompressobj(16 + zlib.MAX_WBITS).decompress(data)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        image = f.read()
    for kernel in payloads(image):
        if kernel.startswith(b"\x7fELF"):
            with open(sys.argv[2], "wb") as f:
                f.write(kernel)
            return 0
    print(f"e2e: no ELF payload in {sys.argv[1]}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
