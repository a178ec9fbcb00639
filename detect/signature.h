// Recognition of worm copies by the CRC-32 of fixed regions of a file.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/file_identity.h"

struct FileSignature {
    uint32_t offset;
    uint32_t length;  // 0 ends the table
    uint32_t crc;
};

extern const FileSignature SignatureTable[];

// The infection predicate: 1 for a worm copy, else 0; identity receives the
// recognised file's identity, read through the handle of the checksum, so
// that what is later deleted is the file that was recognised.
using InfectionPredicate = int32_t (*)(const char* path, FileIdentity* identity);

int32_t ScanFileSignatures(const char* path, const FileSignature* table, int32_t* matchIndex);
int32_t FindFileSignature(const char* path, int32_t* found);
int32_t IsFileInfected(const char* path);
int32_t RecognizeWormFile(const char* path, FileIdentity* identity);
// The same test on a file already open for reading.
int32_t IsOpenFileInfected(HANDLE file);
