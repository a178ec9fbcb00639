// The real-time scanner's rename-list file PVXK.REN.
#pragma once
#include <cstdint>
#include <cstdio>

struct RenameListHeader {
    uint32_t tickCount;
    uint32_t oemId;
    uint32_t checksum;
    uint32_t processorType;
};
static_assert(sizeof(RenameListHeader) == 16);

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

// 0 on success; -1 key or value unreadable or not a string; -2 too long.
int32_t ReadScannerDirectory(char* buffer, uint32_t size);
// Mode 1 creates a list for writing; mode 0 reads and validates one and hands
// the plain body (malloc'ed, the caller frees it) through *body.
FILE* OpenRenameList(int32_t mode, char** body, int32_t* status);
int32_t AddRenamePair(FILE* file, const char* existingPath, const char* newPath, int32_t* status);
int32_t FinishRenameList(FILE* file, int32_t* status);
