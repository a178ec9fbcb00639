#include "base/crc32.h"

#include <array>

namespace {

// The 256 entries that the reflected polynomial generates, built by the compiler.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();
static_assert(CrcTable[1] == 0x77073096u && CrcTable[128] == 0xEDB88320u);

}  // namespace

uint32_t Crc32(const void* data, uint32_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i) crc = (crc >> 8) ^ CrcTable[(crc ^ bytes[i]) & 0xFF];
    return crc ^ 0xFFFFFFFFu;
}
