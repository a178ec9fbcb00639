#include "app/startup_entries.h"

#include <cstring>
#include <string>

#include "base/guards.h"
#include "base/outcome.h"
#include "base/paths.h"
#include "base/runtime_link.h"
#include "trace/trace.h"

namespace {

void DeleteStartupValueInView(HKEY root, const char* keyPath, const char* valueName, REGSAM view) {
    HKEY opened = nullptr;
    const LONG openStatus = RegOpenKeyExA(root, keyPath, 0, KEY_WRITE | view, &opened);
    if (openStatus != ERROR_SUCCESS) {
        TRACE(TraceDetail, "Cannot open key %s 0x%x\n", keyPath, static_cast<unsigned>(openStatus));
        return;
    }
    // Owned only once the open succeeded: a failed open leaves nothing to close.
    const UniqueRegKey key(opened);
    const LONG status = RegDeleteValueA(key.get(), valueName);
    TRACE(TraceDetail, "Value %s of %s was deleted with status: %s (0x%x)\n", valueName, keyPath,
          status == ERROR_SUCCESS ? "OK" : "failed", static_cast<unsigned>(status));
}

#ifdef _WIN64
// The key's full name in the registry (\REGISTRY\...), as UTF-16 bytes; empty
// when it cannot be had.
std::wstring RegistryKeyName(HKEY root, const char* keyPath, REGSAM view) {
    using NtQueryKeyFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    constexpr int KeyNameInformation = 3;
    const auto ntQueryKey = LookUp<NtQueryKeyFunction>(GetModuleHandleA("NTDLL.DLL"), "NtQueryKey");
    UniqueRegKey key;
    if (ntQueryKey == nullptr || RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
        return {};
    }
    // A name length in bytes, then the name.
    alignas(ULONG) char buffer[sizeof(ULONG) + 2048] = {};
    ULONG needed = 0;
    if (ntQueryKey(key.get(), KeyNameInformation, buffer, sizeof buffer, &needed) < 0) return {};
    ULONG length = 0;
    memcpy(&length, buffer, sizeof length);
    if (length > sizeof buffer - sizeof length) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(buffer + sizeof length), length / sizeof(wchar_t));
}

// Whether the 32-bit view has a key of its own at that path: one that exists
// and is not the native key (the views share some keys, such as those under
// HKEY_CURRENT_USER\Software).
bool OwnKeyIn32BitView(HKEY root, const char* keyPath) {
    const std::wstring wow64 = RegistryKeyName(root, keyPath, KEY_WOW64_32KEY);
    return !wow64.empty() && wow64 != RegistryKeyName(root, keyPath, KEY_WOW64_64KEY);
}
#endif

}  // namespace

void DeleteStartupValue(HKEY root, const char* keyPath, const char* valueName) {
#ifdef _WIN64
    // The worm is a 32-bit program: on 64-bit Windows its values may lie in
    // the 32-bit view of the registry, which a 64-bit program does not see
    // unless it asks for it. A key that both views share is visited once, and
    // a key missing from the 32-bit view has nothing there to delete.
    DeleteStartupValueInView(root, keyPath, valueName, KEY_WOW64_64KEY);
    if (OwnKeyIn32BitView(root, keyPath)) DeleteStartupValueInView(root, keyPath, valueName, KEY_WOW64_32KEY);
#else
    DeleteStartupValueInView(root, keyPath, valueName, 0);
#endif
}

namespace {

// Copies system.ini to system.bak, replacing an old backup. A cut path
// would name some other file, so it counts as a failed backup.
bool MakeSystemIniBackup(DWORD* error) {
    char windowsDirectory[MAX_PATH] = "";
    char iniPath[MAX_PATH];
    char backupPath[MAX_PATH];
    SetLastError(ERROR_SUCCESS);
    const UINT length = GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
    if (length == 0) {
        *error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (length >= sizeof windowsDirectory || !AppendDirectorySeparator(windowsDirectory, sizeof windowsDirectory) ||
        !JoinPath(iniPath, sizeof iniPath, windowsDirectory, "system.ini") ||
        !JoinPath(backupPath, sizeof backupPath, windowsDirectory, "system.bak")) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    if (!CopyFileA(iniPath, backupPath, FALSE)) {
        *error = GetLastError();
        return false;
    }
    return true;
}

}  // namespace

void RepairSystemIniShell() {
    // Backup first, on every run; without it the file is not touched.
    DWORD error = ERROR_SUCCESS;
    if (!MakeSystemIniBackup(&error)) {
        TRACE(TraceDetail, "cannot make win.ini backup copy error =%ld\n", static_cast<long>(error));
        AddError();
        return;
    }

    // The bare name lets the platform find the file, or the registry
    // section that the NT family maps it to.
    char shell[MAX_PATH] = "";
    if (GetPrivateProfileStringA("Boot", "Shell", "", shell, sizeof shell, "system.ini") == 0) return;
    TRACE(TraceDetail, "system.ini boot.shell=%s, updating\n", shell);
    WritePrivateProfileStringA("Boot", "Shell", "explorer.exe", "system.ini");
}
