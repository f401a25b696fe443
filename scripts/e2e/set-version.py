#!/usr/bin/env python3
"""Sets the file version of a Windows program in place: the VS_FIXEDFILEINFO
(signature 0xFEEF04BD) after the resource's "VS_VERSION_INFO" key gets
dwFileVersionMS/LS for A.B.C.D. Run before signing; a program without a
version resource is an error.

    set-version.py FILE A.B.C.D
"""
import struct
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    path, text = sys.argv[1], sys.argv[2]
    parts = [int(p) for p in text.split(".")]
    if len(parts) != 4 or any(p < 0 or p > 0xFFFF for p in parts):
        sys.exit("set-version: the version is A.B.C.D, each 0..65535")
    with open(path, "rb") as f:
        data = bytearray(f.read())
    # The key first: the signature's four bytes may also stand in the code
    # of a program that reads version resources.
    key = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    at = data.find(struct.pack("<I", 0xFEEF04BD), key) if key >= 0 else -1
    if at < 0:
        sys.exit(f"set-version: {path} has no version resource")
    # dwSignature, dwStrucVersion, then dwFileVersionMS and dwFileVersionLS.
    struct.pack_into("<II", data, at + 8, parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
