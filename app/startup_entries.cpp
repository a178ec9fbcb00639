#include "app/startup_entries.h"

#include "base/guards.h"
#include "base/outcome.h"
#include "base/paths.h"
#include "trace/trace.h"

void DeleteStartupValue(HKEY root, const char* keyPath, const char* valueName) {
    HKEY opened = nullptr;
    const LONG openStatus = RegOpenKeyExA(root, keyPath, 0, KEY_WRITE, &opened);
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
