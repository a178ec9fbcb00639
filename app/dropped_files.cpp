#include "app/dropped_files.h"

#include <windows.h>

#include "base/outcome.h"
#include "base/paths.h"
#include "detect/signature.h"
#include "fileops/replace_file.h"
#include "trace/trace.h"

const DroppedFile DroppedFileTable[] = {
    {SystemDirectory, "winupdate.exe"},
    {SystemDirectory, "pqonwe.exe"},
    {PathAsIs, nullptr},
};

void RemoveDroppedFiles() {
    char systemDirectory[261] = "";
    const UINT length = GetSystemDirectoryA(systemDirectory, sizeof systemDirectory);
    // Without the directory the names would be looked for in the current one.
    const bool directoryKnown = length != 0 && length < sizeof systemDirectory &&
                                AppendDirectorySeparator(systemDirectory, sizeof systemDirectory);

    for (const DroppedFile* row = DroppedFileTable; row->name != nullptr; ++row) {
        char path[264] = "";
        if (row->locationKind == PathAsIs) {
            JoinPath(path, sizeof path, "", row->name);
        } else if (row->locationKind == SystemDirectory && directoryKnown) {
            JoinPath(path, sizeof path, systemDirectory, row->name);
        }

        FileIdentity identity;
        if (!RecognizeWormFile(path, &identity)) {
            TRACE(TraceDetail, "file %s is not infected or doesn't exit\n", path);
            continue;
        }
        // Found counts even when the removal fails.
        SetInfectionState(InfectionFound);
        const int32_t result = DeleteRecognisedFile(path, identity, IsOpenFileInfected, 0);
        TRACE(TraceDetail, "Deleting file \"%s\", result=%d\n", path, result);
        ApplyResultRule(result);
    }
}
