// Reproducible pseudo-random bytes: the same generator as
// tests/detect/make_vectors.py, which computes the reference values.
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
