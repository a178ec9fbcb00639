// Standard CRC-32 (ISO 3309, IEEE 802.3). No platform dependencies.
#pragma once
#include <cstdint>

uint32_t Crc32(const void* data, uint32_t length);
