// NtSetInformationFile and its records, as NT 4.0 and later have them: the
// one way to act on an open file by handle there (SetFileInformationByHandle
// came with Vista). Looked up at run time; the 9x family has no NTDLL.DLL.
#pragma once
#include <windows.h>

#include "base/runtime_link.h"

struct IoStatus {
    LONG_PTR status;
    ULONG_PTR information;
};
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
using NtSetInformationFileFn = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, int);

inline NtSetInformationFileFn NtSetInformationFileEntry() {
    static const auto entry = LookUp<NtSetInformationFileFn>(GetModuleHandleA("NTDLL.DLL"), "NtSetInformationFile");
    return entry;
}
