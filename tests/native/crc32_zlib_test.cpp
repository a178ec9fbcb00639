// Natively, zlib itself is at hand: compare with it directly.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "base/crc32.h"

namespace {

TEST(Crc32, AgreesWithZlibOnRandomBuffers) {
    std::mt19937 random(20261210);
    for (uint32_t size : {0u, 1u, 3u, 4u, 255u, 256u, 8191u, 8192u, 8193u, 12288u, 70000u}) {
        std::vector<unsigned char> data(size);
        for (auto& byte : data) byte = static_cast<unsigned char>(random());
        EXPECT_EQ(Crc32(data.data(), size), ::crc32(0L, data.data(), size)) << size << " bytes";
    }
}

}  // namespace
