#!/usr/bin/env python3
"""Prints the reference values that tests/base/crc32_test.cpp and
tests/detect/signature_test.cpp embed, computed by zlib:

- the CRC-32 of fixed texts and of pseudo-random or filled buffers;
- the 4 bytes at 0x40 that give the first 8192 bytes of a pseudo-random
  buffer each worm signature.

Both sides generate the buffers with the same generator (TestBytes)."""

import os
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import wormify  # noqa: E402


def test_bytes(seed, length):
    x = seed
    out = bytearray()
    for _ in range(length):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(x >> 24)
    return bytes(out)


TEXTS = ["", "a", "abc", "123456789", "The quick brown fox jumps over the lazy dog"]
RANDOM = [(1, 8192), (2, 1), (3, 255), (4, 256), (5, 4097), (6, 12288), (7, 65537), (8, 8191), (9, 8193)]
FILLS = [(0x00, 8192), (0xFF, 8192), (0x00, 1), (0xFF, 4)]
WORM_SEED = 100

print("// Texts")
for t in TEXTS:
    print(f'    {{"{t}", 0x{zlib.crc32(t.encode()):08X}u}},')
print("// Pseudo-random buffers: seed, length, crc")
for seed, n in RANDOM:
    print(f"    {{{seed}u, {n}u, 0x{zlib.crc32(test_bytes(seed, n)):08X}u}},")
print("// Filled buffers: byte, length, crc")
for b, n in FILLS:
    print(f"    {{0x{b:02X}, {n}u, 0x{zlib.crc32(bytes([b]) * n):08X}u}},")
print(f"// Patches at 0x40 of TestBytes({WORM_SEED}, 8192)")
base = test_bytes(WORM_SEED, 8192)
for crc in wormify.SIGNATURES:
    patched = wormify.force_crc(base, crc)
    assert zlib.crc32(patched) == crc
    print(f"    {{0x{crc:08X}u, {{" + ", ".join(f"0x{b:02X}" for b in patched[0x40:0x44]) + "}},")
