// The records of NtSetInformationFile (base/optional_functions.h), as NT 4.0
// and later have them: the one way to act on an open file by handle there
// (SetFileInformationByHandle came with Vista).
#pragma once
#include <windows.h>

struct FileBasicInformation {
    LARGE_INTEGER creationTime;  // zero: unchanged
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    ULONG attributes;
};
struct FileDispositionInformation {
    BOOLEAN deleteFile;
};
// A new name relative to an open folder; the name's length is in bytes.
template <size_t Characters>
struct FileRenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[Characters];
};
constexpr int FileBasicInformationClass = 4;
constexpr int FileRenameInformationClass = 10;
constexpr int FileDispositionInformationClass = 13;
