#include "fileops/file_exist.h"

#include <windows.h>

#include "base/guards.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "trace/trace.h"

// The operation the existence checks' trace lines are written under.
#define FILE_EXIST_TAG "[QRTK - FileExist]: "

namespace {

// What the open said.
struct Answer {
    bool opened;
    DWORD error;
};

// Only a missing file or folder makes a file absent: one that others hold,
// however they hold it, is there. Attribute access is not subject to
// sharing on the NT family; the 9x family knows reading alone.
template <typename Char>
Answer Ask(const Char* path) {
    SetLastError(0xdeadbeef);
    const UniqueFileHandle file = OpenShared(path, IsWindowsNT() ? FILE_READ_ATTRIBUTES : GENERIC_READ);
    return {static_cast<bool>(file), GetLastError()};
}

FileExistence Traced(Answer answer, const char* shown) {
    if (answer.opened) {
        TRACE(TraceDetail, FILE_EXIST_TAG "File %s exists.\n", shown);
        return FileExistence::Present;
    }
    if (IsAbsence(answer.error)) {
        TRACE(TraceDetail, FILE_EXIST_TAG "File %s does not exist.\n", shown);
        return FileExistence::Absent;
    }
    TRACE(TraceFailure, FILE_EXIST_TAG "File %s cannot be checked, error %ld.\n", shown, answer.error);
    return FileExistence::Unchecked;
}

}  // namespace

FileExistence ExistenceOf(const char* path) { return Traced(Ask(path), path); }

FileExistence ExistenceOf(const FileTarget& target) { return Traced(Ask(target.path), target.shown.text); }

int32_t FileExist(const char* path) { return static_cast<int32_t>(ExistenceOf(path)); }
