#include "app/dropped_files.h"

const DroppedFile DroppedFileTable[] = {
    {SystemDirectory, "winupdate.exe"},
    {SystemDirectory, "pqonwe.exe"},
    {PathAsIs, nullptr},
};

// Placeholder until dropped-file removal lands.
void RemoveDroppedFiles() {}
