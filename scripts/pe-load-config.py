#!/usr/bin/env python3
"""Points a linked PE32+ image's load configuration directory at its
_load_config_used structure.

GNU ld 2.40 keeps the structure but leaves the data directory entry empty,
so Windows never reads it. This fills entry 10 with the structure's RVA (from
the link map) and the size its own first field declares, and recomputes the
header checksum when the linker wrote one. Same input, same bytes out.

    pe-load-config.py IMAGE MAP
"""
import re
import struct
import sys

SYMBOL = "_load_config_used"
LOAD_CONFIG_ENTRY = 10
PE32_PLUS = 0x20B


def fail(message):
    sys.exit("pe-load-config: " + message)


def symbol_address(map_path):
    # ld's map lists a defined symbol as "   0xADDRESS   name".
    pattern = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+" + re.escape(SYMBOL) + r"\s*$")
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            found = pattern.match(line)
            if found:
                return int(found.group(1), 16)
    fail(f"{SYMBOL} is not in {map_path} (dropped by --gc-sections?)")


def checksum(image, checksum_offset):
    """The PE header checksum, the checksum field itself taken as zero."""
    data = bytearray(image)
    data[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + len(image)) & 0xFFFFFFFF


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    image_path, map_path = sys.argv[1:]
    image = bytearray(open(image_path, "rb").read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail(f"{image_path} is not a PE image")
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != PE32_PLUS:
        fail(f"{image_path} is not PE32+")
    image_base = struct.unpack_from("<Q", image, optional + 24)[0]
    directories = struct.unpack_from("<I", image, optional + 108)[0]
    if directories <= LOAD_CONFIG_ENTRY:
        fail(f"{image_path} has only {directories} data directories")
    rva = symbol_address(map_path) - image_base

    # The structure's file offset, through the section that holds it.
    table = optional + optional_size
    offset = None
    for i in range(sections):
        header = table + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
            "<IIII", image, header + 8)
        if virtual_address <= rva < virtual_address + min(virtual_size, raw_size):
            offset = raw_offset + rva - virtual_address
    if offset is None:
        fail(f"RVA 0x{rva:x} of {SYMBOL} is in no section's file data")
    size = struct.unpack_from("<I", image, offset)[0]
    if size < 0x50:
        fail(f"{SYMBOL} declares {size} bytes, too few to hold DependentLoadFlags")

    entry = optional + 112 + 8 * LOAD_CONFIG_ENTRY
    struct.pack_into("<II", image, entry, rva, size)
    checksum_offset = optional + 64
    if struct.unpack_from("<I", image, checksum_offset)[0] != 0:
        struct.pack_into("<I", image, checksum_offset, checksum(bytes(image), checksum_offset))
    open(image_path, "wb").write(image)


if __name__ == "__main__":
    main()
