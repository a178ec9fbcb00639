#include "app/startup_entries.h"

#include "app/footprint.h"
#include "base/guards.h"
#include "base/outcome.h"
#include "base/paths.h"
#include "base/system_folders.h"
#include "trace/trace.h"

namespace {

struct ValueToDelete {
    HKEY root;
    const char* keyPath;
    const char* valueName;
};

// Anything but "not there" may leave the worm's value in place.
void CountUnlessAbsent(LONG status) {
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) AddError();
}

void DeleteStartupValueInView(REGSAM view, void* context) {
    const auto* value = static_cast<const ValueToDelete*>(context);
    HKEY opened = nullptr;
    const LONG openStatus = RegOpenKeyExA(value->root, value->keyPath, 0, KEY_WRITE | view, &opened);
    if (openStatus != ERROR_SUCCESS) {
        TRACE(TraceDetail, "Cannot open key %s 0x%x\n", value->keyPath, static_cast<unsigned>(openStatus));
        CountUnlessAbsent(openStatus);
        return;
    }
    // Owned only once the open succeeded: a failed open leaves nothing to close.
    const UniqueRegKey key(opened);
    const LONG status = RegDeleteValueA(key.get(), value->valueName);
    TRACE(TraceDetail, "Value %s of %s was deleted with status: %s (0x%x)\n", value->valueName, value->keyPath,
          status == ERROR_SUCCESS ? "OK" : "failed", static_cast<unsigned>(status));
    CountUnlessAbsent(status);
}

// Copies system.ini to system.bak, replacing an old backup. A cut path
// would name some other file, so it counts as a failed backup.
bool MakeSystemIniBackup(DWORD* error) {
    char windowsDirectory[MAX_PATH] = "";
    char iniPath[MAX_PATH];
    char backupPath[MAX_PATH];
    if (!WindowsFolder(windowsDirectory, sizeof windowsDirectory)) {
        *error = GetLastError();
        return false;
    }
    if (!AppendDirectorySeparator(windowsDirectory, sizeof windowsDirectory) ||
        !JoinPath(iniPath, sizeof iniPath, windowsDirectory, WormShellLine.file) ||
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

void DeleteStartupValue(HKEY root, const char* keyPath, const char* valueName) {
    ValueToDelete value{root, keyPath, valueName};
    ForEachRegistryView(root, keyPath, DeleteStartupValueInView, &value);
}

void RepairSystemIniShell() {
    // Backup first, on every run; without it the file is not touched.
    DWORD error = ERROR_SUCCESS;
    if (!MakeSystemIniBackup(&error)) {
        TRACE(TraceDetail, "cannot make win.ini backup copy error =%ld\n", static_cast<long>(error));
        AddError();
        return;
    }

    const ShellLineFinding shell = FindShellLine();
    if (shell.value[0] == '\0') return;
    TRACE(TraceDetail, "system.ini boot.shell=%s, updating\n", shell.value);
    SetLastError(ERROR_SUCCESS);
    if (!WritePrivateProfileStringA(WormShellLine.section, WormShellLine.key, WormShellLine.usual,
                                    WormShellLine.file)) {
        // The worm's shell would start it again at the next log-on.
        TRACE(TraceFailure, "system.ini boot.shell cannot be updated error =%ld\n", static_cast<long>(GetLastError()));
        AddError();
    }
}
