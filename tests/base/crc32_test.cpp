#include "base/crc32.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_bytes.h"

namespace {

// Every expected value below was computed by zlib's crc32 (Python's
// zlib.crc32) through tests/support/make_vectors.py.

uint32_t CrcOf(const std::string& data) { return Crc32(data.data(), static_cast<uint32_t>(data.size())); }

TEST(Crc32, AgreesWithZlibOnTexts) {
    const struct {
        const char* text;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"abc", 0x352441C2u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& c : cases) EXPECT_EQ(CrcOf(c.text), c.crc) << '"' << c.text << '"';
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

TEST(Crc32, AgreesWithZlibOnPseudoRandomBuffers) {
    const struct {
        uint32_t seed;
        uint32_t length;
        uint32_t crc;
    } cases[] = {
        {1u, 8192u, 0x1C74639Au},  {2u, 1u, 0xA6B33D17u},     {3u, 255u, 0x09A1FB37u},
        {4u, 256u, 0x355F94F6u},   {5u, 4097u, 0x1B1D1DE7u},  {6u, 12288u, 0x3D2EC231u},
        {7u, 65537u, 0xACA96F0Fu}, {8u, 8191u, 0xFD35B2BEu},  {9u, 8193u, 0x5A82D747u},
    };
    for (const auto& c : cases) EXPECT_EQ(CrcOf(TestBytes(c.seed, c.length)), c.crc) << "seed " << c.seed;
}

TEST(Crc32, AgreesWithZlibOnFilledBuffers) {
    const struct {
        char fill;
        uint32_t length;
        uint32_t crc;
    } cases[] = {
        {'\x00', 8192u, 0xD8F49994u},
        {'\xFF', 8192u, 0xB4293435u},
        {'\x00', 1u, 0xD202EF8Du},
        {'\xFF', 4u, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) EXPECT_EQ(CrcOf(std::string(c.length, c.fill)), c.crc) << c.length;
}

// Each call starts afresh: nothing of an earlier call leaks into the next.
TEST(Crc32, CallsAreIndependent) {
    const std::string data = TestBytes(1, 8192);
    EXPECT_EQ(CrcOf("abc"), 0x352441C2u);
    EXPECT_EQ(CrcOf(data), 0x1C74639Au);
    EXPECT_EQ(CrcOf("abc"), 0x352441C2u);
    // Only the given length counts.
    EXPECT_EQ(Crc32(data.data(), 0), 0u);
    EXPECT_EQ(Crc32("123456789abc", 9), 0xCBF43926u);
}

}  // namespace
