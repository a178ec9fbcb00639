#include "fileops/rename_list_body.h"

#include "base/crc32.h"

// Chosen so that no combined key byte is zero: every body byte changes.
const uint8_t RenameListKeyA[16] = {0x4C, 0x42, 0x5E, 0x2F, 0xC3, 0x79, 0xD9, 0x10,
                                    0x0A, 0x96, 0x57, 0x3C, 0xBD, 0xE6, 0x1E, 0x29};
const uint8_t RenameListKeyB[17] = {0xF1, 0xA8, 0x0B, 0xD1, 0x6F, 0x00, 0x32, 0xA7, 0x95,
                                    0x91, 0x94, 0x21, 0xB5, 0xD8, 0x00, 0xE0, 0xB4};

void ScrambleRenameList(void* buffer, uint32_t length) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(bytes[i] ^ RenameListKeyB[i % 17] ^ RenameListKeyA[i % 16]);
    }
}

bool IsValidRenameListBody(const char* body, uint32_t length) {
    uint32_t strings = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (body[i] != '\0') continue;
        // A NUL behind the NUL that ended a string is the end of the list
        // (a NUL at the first position ends an empty first string).
        if (i > 0 && body[i - 1] == '\0') return strings % 2 == 0;
        ++strings;
    }
    return false;
}

RenameListStatus DecodeRenameListBody(void* body, uint32_t length, uint32_t checksum) {
    ScrambleRenameList(body, length);
    if (Crc32(body, length) != checksum) return RenameListStatus::ChecksumMismatch;
    if (!IsValidRenameListBody(static_cast<const char*>(body), length)) return RenameListStatus::BadBody;
    return RenameListStatus::Ok;
}

uint32_t EncodeRenameListBody(void* body, uint32_t length) {
    const uint32_t checksum = Crc32(body, length);
    ScrambleRenameList(body, length);
    return checksum;
}
