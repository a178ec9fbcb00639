// The scanner's rename list as bytes: its header, the scrambling of its body
// and the rules a readable body follows. No platform calls, so it also builds
// natively.
#pragma once
#include <cstdint>

constexpr uint32_t RenameListHeaderSize = 16;
// The scanner reads no list file larger than this.
constexpr uint32_t RenameListMaxFileSize = 8192;

struct RenameListHeader {
    uint32_t tickCount;
    uint32_t oemId;
    uint32_t checksum;  // CRC-32 of the plain body
    uint32_t processorType;
};
static_assert(sizeof(RenameListHeader) == RenameListHeaderSize);

enum class RenameListStatus : int32_t {
    Ok = 0,
    OutOfMemory = 1,
    NoScannerDirectory = 2,
    OpenFailed = 3,
    IoError = 4,
    CloseFailed = 5,
    TooShort = 7,
    TooLong = 8,
    ChecksumMismatch = 9,
    BadBody = 10,
};

extern const uint8_t RenameListKeyA[16];
extern const uint8_t RenameListKeyB[17];

// XORs the byte at position i (0 at the buffer's first byte) with
// RenameListKeyB[i % 17] ^ RenameListKeyA[i % 16]; applying it twice restores
// the input.
void ScrambleRenameList(void* buffer, uint32_t length);

// True when the plain body holds its end of list (the first NUL directly behind
// another NUL) and an even number of NUL-terminated strings before it.
bool IsValidRenameListBody(const char* body, uint32_t length);

// Descrambles a body read from a list, in place, and checks it against the
// header's checksum and the body rules: Ok, ChecksumMismatch or BadBody.
RenameListStatus DecodeRenameListBody(void* body, uint32_t length, uint32_t checksum);

// Scrambles a plain body in place; returns the checksum its header carries.
uint32_t EncodeRenameListBody(void* body, uint32_t length);
