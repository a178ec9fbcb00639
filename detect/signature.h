// Recognition of worm copies by the CRC-32 of fixed regions of a file.
#pragma once
#include <cstdint>

struct FileSignature {
    uint32_t offset;
    uint32_t length;  // 0 ends the table
    uint32_t crc;
};

extern const FileSignature SignatureTable[];

// The infection predicate: 1 for a worm copy, else 0.
using InfectionPredicate = int32_t (*)(const char* path);

int32_t ScanFileSignatures(const char* path, const FileSignature* table, int32_t* matchIndex);
int32_t FindFileSignature(const char* path, int32_t* found);
int32_t IsFileInfected(const char* path);
