#include "app/startup_entries.h"

#include <cstring>

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
// A key's full name in the registry (\REGISTRY\...), as NtQueryKey gives it:
// a length in bytes, then the UTF-16 name. Fixed storage: the comparison
// must not fail for want of memory.
struct KeyName {
    alignas(ULONG) char bytes[sizeof(ULONG) + 2048];
};

// 0 when the key cannot be opened or named.
int ReadRegistryKeyName(HKEY root, const char* keyPath, REGSAM view, KeyName* name) {
    using NtQueryKeyFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    constexpr int KeyNameInformation = 3;
    const auto ntQueryKey = LookUp<NtQueryKeyFunction>(GetModuleHandleA("NTDLL.DLL"), "NtQueryKey");
    UniqueRegKey key;
    if (ntQueryKey == nullptr || RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
        return 0;
    }
    memset(name->bytes, 0, sizeof name->bytes);
    ULONG needed = 0;
    if (ntQueryKey(key.get(), KeyNameInformation, name->bytes, sizeof name->bytes, &needed) < 0) return 0;
    ULONG length = 0;
    memcpy(&length, name->bytes, sizeof length);
    return length != 0 && length <= sizeof name->bytes - sizeof length;
}

#endif

}  // namespace

#ifdef _WIN64
bool OwnKeyIn32BitView(HKEY root, const char* keyPath) {
    KeyName wow64;
    KeyName native;
    if (!ReadRegistryKeyName(root, keyPath, KEY_WOW64_32KEY, &wow64)) return false;
    // The buffers are zero-filled past the names, so equal names compare equal whole.
    return !ReadRegistryKeyName(root, keyPath, KEY_WOW64_64KEY, &native) ||
           memcmp(wow64.bytes, native.bytes, sizeof wow64.bytes) != 0;
}
#endif

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
