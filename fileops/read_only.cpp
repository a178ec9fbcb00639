#include "fileops/read_only.h"

#include "base/optional_functions.h"
#include "fileops/nt_file.h"
#include "fileops/replace_file_tag.h"
#include "trace/trace.h"

namespace {

// 0 when the file is not read-only (or unknown), else the attributes to set
// instead (no attribute at all is "normal").
DWORD WithoutReadOnly(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return 0;
    const DWORD others = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    return others != 0 ? others : FILE_ATTRIBUTE_NORMAL;
}

void TraceCleared(const char* shown) {
    TRACE(TraceDetail, REPLACE_FILE_TAG "Read-only attribute cleared (%s).\n", shown);
}

}  // namespace

void ClearReadOnly(const char* path) {
    const DWORD attributes = WithoutReadOnly(GetFileAttributesA(path));
    if (attributes != 0 && SetFileAttributesA(path, attributes)) TraceCleared(path);
}

void ClearReadOnly(HANDLE file, const FileIdentity& identity, const char* shown) {
    const auto setInformation = NtdllOptional().ntSetInformationFile;
    FileBasicInformation basic{};
    basic.attributes = WithoutReadOnly(identity.attributes);
    FileIoStatus io{};
    if (basic.attributes != 0 && setInformation != nullptr &&
        setInformation(file, &io, &basic, sizeof basic, FileBasicInformationClass) >= 0) {
        TraceCleared(shown);
    }
}
