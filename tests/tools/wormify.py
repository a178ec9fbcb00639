#!/usr/bin/env python3
"""Makes a harmless worm stand-in: a copy of one of the test suite's own
programs whose first 8192 bytes have a chosen CRC-32 (a worm signature), got
by rewriting 4 bytes of the DOS stub (offsets 0x40 to 0x7F), which the Windows
loader ignores.

    wormify.py SOURCE DEST [CRC]     (CRC defaults to the first signature)
"""

import sys
import zlib

SIGNATURES = (0xB9478CE5, 0x759D1D05)
REGION = 8192
PATCH_AT = 0x40

_TABLE = []
for _n in range(256):
    _c = _n
    for _ in range(8):
        _c = (_c >> 1) ^ 0xEDB88320 if _c & 1 else _c >> 1
    _TABLE.append(_c)
_BY_TOP = {_TABLE[i] >> 24: i for i in range(256)}


def _register_after(data, register=0xFFFFFFFF):
    for b in data:
        register = (register >> 8) ^ _TABLE[(register ^ b) & 0xFF]
    return register


def force_crc(data, crc, at=PATCH_AT, length=REGION):
    """Returns data with 4 bytes at `at` changed so that crc32(data[:length]) == crc."""
    if len(data) < length or not 0 <= at <= length - 4:
        raise ValueError("the region must lie inside the data")
    # Register needed before the bytes that follow the patch, found by
    # running the CRC backwards from the wanted result.
    register = crc ^ 0xFFFFFFFF
    for b in reversed(data[at + 4:length]):
        i = _BY_TOP[register >> 24]
        register = (((register ^ _TABLE[i]) << 8) & 0xFFFFFFFF) | ((i ^ b) & 0xFF)
    wanted = register
    # The four table indices that lead to it, then the bytes that pick them.
    indices = []
    for _ in range(4):
        i = _BY_TOP[register >> 24]
        indices.append(i)
        register = ((register ^ _TABLE[i]) << 8) & 0xFFFFFFFF
    indices.reverse()
    state = _register_after(data[:at])
    patch = bytearray()
    for i in indices:
        patch.append((state ^ i) & 0xFF)
        state = (state >> 8) ^ _TABLE[i]
    assert state == wanted
    out = bytearray(data)
    out[at:at + 4] = patch
    assert zlib.crc32(bytes(out[:length])) == crc
    return bytes(out)


def wormify(source, dest, crc=SIGNATURES[0]):
    with open(source, "rb") as f:
        data = f.read()
    if data[:2] == b"MZ" and PATCH_AT + 4 > int.from_bytes(data[0x3C:0x40], "little"):
        raise ValueError("the PE header starts inside the DOS stub region")
    with open(dest, "wb") as f:
        f.write(force_crc(data, crc))


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    wormify(sys.argv[1], sys.argv[2], int(sys.argv[3], 0) if len(sys.argv) == 4 else SIGNATURES[0])
