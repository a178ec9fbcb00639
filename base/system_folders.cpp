#include "base/system_folders.h"

#include <climits>

#include "base/optional_functions.h"

namespace {

UINT ClampToUint(size_t size) { return size > UINT_MAX ? UINT_MAX : static_cast<UINT>(size); }

// The platform's answer, begun with a cleared last error: a folder only when
// it was given whole. A function that the system lacks gives none.
template <typename Char>
bool Read(UINT(WINAPI* function)(Char* folder, UINT size), Char* folder, size_t size) {
    SetLastError(function != nullptr ? ERROR_SUCCESS : ERROR_CALL_NOT_IMPLEMENTED);
    const UINT length = function != nullptr ? function(folder, ClampToUint(size)) : 0;
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

bool WindowsFolder(char* folder, size_t size) { return Read(GetWindowsDirectoryA, folder, size); }

bool SystemFolder(char* folder, size_t size) { return Read(GetSystemDirectoryA, folder, size); }

bool SystemFolder(wchar_t* folder, size_t size) { return Read(GetSystemDirectoryW, folder, size); }

bool SharedWindowsFolder(char* folder, size_t size) {
    const auto shared = Kernel32Optional().getSystemWindowsDirectoryA;
    return shared != nullptr ? Read(shared, folder, size) : WindowsFolder(folder, size);
}

bool SharedWindowsFolder(wchar_t* folder, size_t size) {
    const auto shared = Kernel32Optional().getSystemWindowsDirectoryW;
    return Read(shared != nullptr ? shared : GetWindowsDirectoryW, folder, size);
}

bool Wow64SystemFolder(char* folder, size_t size) {
    return Read(Kernel32Optional().getSystemWow64DirectoryA, folder, size);
}

bool Wow64SystemFolder(wchar_t* folder, size_t size) {
    return Read(Kernel32Optional().getSystemWow64DirectoryW, folder, size);
}
