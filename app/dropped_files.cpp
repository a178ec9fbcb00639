#include "app/dropped_files.h"

#include <windows.h>

#include <cstring>

#include "app/outcome.h"
#include "detect/signature.h"
#include "fileops/replace_file.h"
#include "trace/trace.h"

const DroppedFile DroppedFileTable[] = {
    {SystemDirectory, "winupdate.exe"},
    {SystemDirectory, "pqonwe.exe"},
    {PathAsIs, nullptr},
};

int32_t AppendDirectorySeparator(char* directory, size_t size) {
    const size_t length = strlen(directory);
    if (length <= 3) return 1;
    if (length + 2 > size) return 0;
    directory[length] = '\\';
    directory[length + 1] = '\0';
    return 1;
}

namespace {

// The two parts joined, or the empty path when they do not fit: a cut path
// could name another file.
void JoinPath(char (&path)[264], const char* directory, const char* name) {
    path[0] = '\0';
    const size_t directoryLength = strlen(directory);
    const size_t nameLength = strlen(name);
    if (directoryLength + nameLength >= sizeof path) return;
    memcpy(path, directory, directoryLength);
    memcpy(path + directoryLength, name, nameLength + 1);
}

}  // namespace

void RemoveDroppedFiles() {
    char systemDirectory[261] = "";
    const UINT length = GetSystemDirectoryA(systemDirectory, sizeof systemDirectory);
    // Without the directory the names would be looked for in the current one.
    const bool directoryKnown = length != 0 && length < sizeof systemDirectory &&
                                AppendDirectorySeparator(systemDirectory, sizeof systemDirectory);

    for (const DroppedFile* row = DroppedFileTable; row->name != nullptr; ++row) {
        char path[264] = "";
        if (row->locationKind == PathAsIs) {
            JoinPath(path, "", row->name);
        } else if (row->locationKind == SystemDirectory && directoryKnown) {
            JoinPath(path, systemDirectory, row->name);
        }

        if (!IsFileInfected(path)) {
            TRACE(TraceDetail, "file %s is not infected or doesn't exit\n", path);
            continue;
        }
        // Found counts even when the removal fails.
        SetInfectionState(InfectionFound);
        const int32_t result = ReplaceFile("", path, nullptr, 0);
        TRACE(TraceDetail, "Deleting file \"%s\", result=%d\n", path, result);
        ApplyResultRule(result);
    }
}
