#include "app/dropped_files.h"

#include <windows.h>

#include "base/outcome.h"
#include "base/paths.h"
#include "base/runtime_link.h"
#include "detect/signature.h"
#include "fileops/replace_file.h"
#include "trace/trace.h"

const DroppedFile DroppedFileTable[] = {
    {SystemDirectory, "winupdate.exe"},
    {SystemDirectory, "pqonwe.exe"},
    {PathAsIs, nullptr},
};

namespace {

// Checks every row of the table in one system directory (empty when it is
// unknown: then no row of that kind names a file).
void RemoveDroppedFilesIn(const char* systemDirectory) {
    for (const DroppedFile* row = DroppedFileTable; row->name != nullptr; ++row) {
        char path[264] = "";
        if (row->locationKind == PathAsIs) {
            JoinPath(path, sizeof path, "", row->name);
        } else if (row->locationKind == SystemDirectory && systemDirectory[0] != '\0') {
            JoinPath(path, sizeof path, systemDirectory, row->name);
        }

        RecognitionResult recognition = RecogniseFile(path);
        if (recognition.verdict != Recognition::Worm) {
            TRACE(TraceDetail, "file %s is not infected or doesn't exit\n", path);
            continue;
        }
        // Found counts even when the removal fails.
        SetInfectionState(InfectionFound);
        const int32_t result = DeleteRecognisedFile(path, recognition.file, IsOpenFileInfected, 0);
        TRACE(TraceDetail, "Deleting file \"%s\", result=%d\n", path, result);
        ApplyResultRule(result);
    }
}

// A directory the platform reported, ready for a file name; empty when it
// could not be obtained or does not fit (a cut path could name another file).
void ReadyDirectory(char* directory, size_t size, UINT length) {
    if (length == 0 || length >= size || !AppendDirectorySeparator(directory, size)) directory[0] = '\0';
}

}  // namespace

void RemoveDroppedFiles() {
    char systemDirectory[261] = "";
    // Without the directory the names would be looked for in the current one.
    ReadyDirectory(systemDirectory, sizeof systemDirectory,
                   GetSystemDirectoryA(systemDirectory, sizeof systemDirectory));
    RemoveDroppedFilesIn(systemDirectory);
#ifdef _WIN64
    // The worm is a 32-bit program: on 64-bit Windows its files land in the
    // 32-bit system folder, which a 64-bit program does not see under the
    // native folder's name.
    char wow64Directory[261] = "";
    const UINT wow64Length = GetSystemWow64DirectoryIfAny(wow64Directory, sizeof wow64Directory);
    if (wow64Length != 0) {
        ReadyDirectory(wow64Directory, sizeof wow64Directory, wow64Length);
        RemoveDroppedFilesIn(wow64Directory);
    }
#endif
}
