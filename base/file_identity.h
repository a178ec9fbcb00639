// Which file an open handle names: the volume and the file's index on it,
// which stay the same whatever path leads to the file.
#pragma once
#include <windows.h>
#include <cstdint>

struct FileIdentity {
    uint32_t volumeSerial = 0;
    uint32_t indexHigh = 0;
    uint32_t indexLow = 0;
    uint32_t attributes = 0;  // as read with it; not part of the identity
};

// 1 when the system told it (GetFileInformationByHandle), else 0.
int32_t ReadFileIdentity(HANDLE file, FileIdentity* identity);

bool SameFile(const FileIdentity& a, const FileIdentity& b);
