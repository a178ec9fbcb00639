// The real-time scanner's rename-list file PVXK.REN: a 16-byte header and a
// scrambled body of path pairs, in the scanner's own directory.
#pragma once
#include <cstdint>
#include <cstdio>

#include "fileops/rename_list_body.h"

struct RenameListHeader {
    uint32_t tickCount;
    uint32_t oemId;
    uint32_t checksum;  // CRC-32 of the plain body
    uint32_t processorType;
};
static_assert(sizeof(RenameListHeader) == RenameListHeaderSize);

enum RenameListStatus : int32_t {
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

enum RenameListMode : int32_t { RenameListRead = 0, RenameListWrite = 1 };

// 0 on success; -1 key or value unreadable, not a string or not terminated;
// -2 the string and its terminator do not fit into size bytes.
int32_t ReadScannerDirectory(char* buffer, uint32_t size);
// Mode 1 creates a list for writing; mode 0 reads and validates one and hands
// the plain body (malloc'ed, the caller frees it) through *body, which is
// null on failure. Any other mode: OpenFailed.
FILE* OpenRenameList(int32_t mode, char** body, int32_t* status);
// Refuses (IoError, nothing written) an empty path and a pair that would make
// the finished file larger than the scanner reads.
int32_t AddRenamePair(FILE* file, const char* existingPath, const char* newPath, int32_t* status);
// Ends, checksums and scrambles the list. Closes the file, also on failure.
int32_t FinishRenameList(FILE* file, int32_t* status);
