// Which file an open handle names: the volume and the file's index on it,
// which stay the same whatever path leads to the file.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/guards.h"

struct FileIdentity {
    uint32_t volumeSerial = 0;
    uint32_t indexHigh = 0;
    uint32_t indexLow = 0;
    uint32_t attributes = 0;  // as read with it; not part of the identity
};

// True when the system told it (GetFileInformationByHandle).
bool ReadFileIdentity(HANDLE file, FileIdentity* identity);

bool SameFile(const FileIdentity& a, const FileIdentity& b);

// A file as it was recognised: the handle its content was read through, kept
// open, and the identity read through it. An identity compares reliably only
// between handles open at the same time (FAT may renumber a closed file), so
// the handle stays open until a later open has been compared with it.
struct RecognisedFile {
    UniqueFileHandle handle;
    FileIdentity identity;
};
