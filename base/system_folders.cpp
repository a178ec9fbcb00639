#include "base/system_folders.h"

#include <climits>

#include "base/optional_functions.h"

namespace {

UINT ClampToUint(size_t size) { return size > UINT_MAX ? UINT_MAX : static_cast<UINT>(size); }

// The platform's answer, begun with a cleared last error: a folder only when
// it was given whole.
template <typename Char>
bool Accept(UINT length, Char* folder, size_t size) {
    if (length != 0 && length < size) return true;
    if (size > 0) folder[0] = 0;
    if (length != 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    } else if (GetLastError() == ERROR_SUCCESS) {
        SetLastError(ERROR_PATH_NOT_FOUND);
    }
    return false;
}

}  // namespace

bool WindowsFolder(char* folder, size_t size) {
    SetLastError(ERROR_SUCCESS);
    return Accept(GetWindowsDirectoryA(folder, ClampToUint(size)), folder, size);
}

bool SystemFolder(char* folder, size_t size) {
    SetLastError(ERROR_SUCCESS);
    return Accept(GetSystemDirectoryA(folder, ClampToUint(size)), folder, size);
}

bool SharedWindowsFolder(char* folder, size_t size) {
    const auto shared = Kernel32Optional().getSystemWindowsDirectoryA;
    SetLastError(ERROR_SUCCESS);
    const UINT length =
        shared != nullptr ? shared(folder, ClampToUint(size)) : GetWindowsDirectoryA(folder, ClampToUint(size));
    return Accept(length, folder, size);
}

bool SharedWindowsFolder(wchar_t* folder, size_t size) {
    const auto shared = Kernel32Optional().getSystemWindowsDirectoryW;
    SetLastError(ERROR_SUCCESS);
    const UINT length =
        shared != nullptr ? shared(folder, ClampToUint(size)) : GetWindowsDirectoryW(folder, ClampToUint(size));
    return Accept(length, folder, size);
}

bool Wow64SystemFolder(char* folder, size_t size) {
    const auto wow64 = Kernel32Optional().getSystemWow64DirectoryA;
    SetLastError(ERROR_SUCCESS);
    if (wow64 == nullptr) SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return Accept(wow64 != nullptr ? wow64(folder, ClampToUint(size)) : 0, folder, size);
}
