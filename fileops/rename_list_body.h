// The body of the scanner's rename list: its scrambling and the rules a
// readable body follows. No platform calls, so it also builds natively.
#pragma once
#include <cstdint>

constexpr uint32_t RenameListHeaderSize = 16;
// The scanner reads no list file larger than this.
constexpr uint32_t RenameListMaxFileSize = 8192;

extern const uint8_t RenameListKeyA[16];
extern const uint8_t RenameListKeyB[17];

// XORs the byte at position i (0 at the buffer's first byte) with
// RenameListKeyB[i % 17] ^ RenameListKeyA[i % 16]; applying it twice restores
// the input.
void ScrambleRenameList(void* buffer, uint32_t length);

// 1 when the plain body holds its end of list (the first NUL directly behind
// another NUL) and an even number of NUL-terminated strings before it.
int IsValidRenameListBody(const char* body, uint32_t length);
