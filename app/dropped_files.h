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

// Makes a directory that the platform reported ready for a file name: appends
// "\" when it is longer than 3 characters (a drive root such as C:\ already
// ends in one). 0, with the directory unchanged, when the buffer of `size`
// bytes has no room for it.
int32_t AppendDirectorySeparator(char* directory, size_t size);
