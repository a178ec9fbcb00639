// Reproducible pseudo-random bytes: the same generator as
// tests/support/make_vectors.py, which computes the reference values.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

inline std::string TestBytes(uint32_t seed, size_t length) {
    std::string out(length, '\0');
    uint32_t x = seed;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

constexpr uint32_t WormSignature0 = 0xB9478CE5u;
constexpr uint32_t WormSignature1 = 0x759D1D05u;

// First 8192 bytes of a worm stand-in: TestBytes(100, 8192) with 4 bytes at
// 0x40 chosen (by zlib, through tests/support/make_vectors.py) so that the
// region carries that signature.
inline std::string WormRegion(uint32_t signature) {
    std::string region = TestBytes(100, 8192);
    region.replace(0x40, 4, signature == WormSignature0 ? "\xA9\x87\xD7\x4B" : "\xE8\xE0\x5F\xC1", 4);
    return region;
}
