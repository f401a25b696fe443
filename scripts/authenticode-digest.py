#!/usr/bin/env python3
"""Prints the Authenticode SHA-256 digest of a PE file: the hash of the file
without its checksum field, its security directory entry and the signature
(certificate table) itself, i.e. what a signature of the file signs. A
signed file and the unsigned file it was made from give the same digest.

    scripts/authenticode-digest.py FILE
"""
import hashlib
import struct
import sys


def digest(data: bytes) -> str:
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    checksum = optional + 64
    security = directories + 4 * 8
    table, size = struct.unpack_from("<II", data, security)
    end = table if table else len(data)
    h = hashlib.sha256()
    h.update(data[:checksum])
    h.update(data[checksum + 4:security])
    h.update(data[security + 8:end])
    if table:
        h.update(data[table + size:])
    return h.hexdigest().upper()


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "rb") as f:
        print(digest(f.read()))
