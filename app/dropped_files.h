// Removal of the worm's dropped files from the system directory.
#pragma once
#include <cstddef>
#include <cstdint>

enum LocationKind : int32_t { PathAsIs = 0, SystemDirectory = 1 };

struct DroppedFile {
    int32_t locationKind;
    const char* name;  // null ends the table
};

extern const DroppedFile DroppedFileTable[];

void RemoveDroppedFiles();

