#include "app/footprint.h"

#include <cstring>

#include "base/guards.h"
#include "base/optional_functions.h"
#include "base/paths.h"
#include "base/system_folders.h"
#include "base/wide_files.h"

const DroppedFile DroppedFileTable[] = {
    {LocationKind::SystemDirectory, "winupdate.exe"},
    {LocationKind::SystemDirectory, "pqonwe.exe"},
    {LocationKind::PathAsIs, nullptr},
};

const StartupValue StartupValueTable[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "windowsupdate"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "windowsupdate"},
    {nullptr, nullptr, nullptr, nullptr},
};

const ShellLine WormShellLine = {"system.ini", "Boot", "Shell", "explorer.exe"};

namespace {

// A folder just read (found, else the reason is the last error), ready for a
// file name; 0, or the reason it cannot be used (a cut path could name
// another file).
uint32_t ReadyFolder(char* folder, size_t size, bool found) {
    if (found && AppendDirectorySeparator(folder, size)) return ERROR_SUCCESS;
    const uint32_t error = found ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
    folder[0] = '\0';
    return error;
}

void VisitRowsIn(const char* folder, uint32_t folderError, bool withPathAsIs, DroppedFileVisit visit,
                 void* context) {
    for (const DroppedFile* row = DroppedFileTable; row->name != nullptr; ++row) {
        DroppedFilePlace place{row->name, "", L"", ERROR_SUCCESS};
        if (row->locationKind == LocationKind::PathAsIs) {
            if (!withPathAsIs) continue;
            if (!JoinPath(place.path, sizeof place.path, "", row->name)) place.error = ERROR_FILENAME_EXCED_RANGE;
        } else if (row->locationKind == LocationKind::SystemDirectory) {
            if (folderError != ERROR_SUCCESS) {
                place.error = folderError;
            } else if (!JoinPath(place.path, sizeof place.path, folder, row->name)) {
                place.error = ERROR_FILENAME_EXCED_RANGE;
            }
        } else {
            continue;
        }
        if (place.error == ERROR_SUCCESS && !AnsiToWide(place.path, place.widePath, 264)) {
            place.error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
            place.path[0] = '\0';
        }
        visit(place, context);
    }
}

#ifdef _WIN64
// A key's full name in the registry (\REGISTRY\...), as NtQueryKey gives it:
// a length in bytes, then the UTF-16 name. Fixed storage: the comparison
// must not fail for want of memory.
struct KeyName {
    alignas(ULONG) char bytes[sizeof(ULONG) + 2048];
};

// False when the key cannot be opened or named.
bool ReadRegistryKeyName(HKEY root, const char* keyPath, REGSAM view, KeyName* name) {
    constexpr int KeyNameInformation = 3;
    const auto ntQueryKey = NtdllOptional().ntQueryKey;
    UniqueRegKey key;
    if (ntQueryKey == nullptr || RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    memset(name->bytes, 0, sizeof name->bytes);
    ULONG needed = 0;
    if (ntQueryKey(key.get(), KeyNameInformation, name->bytes, sizeof name->bytes, &needed) < 0) return false;
    ULONG length = 0;
    memcpy(&length, name->bytes, sizeof length);
    return length != 0 && length <= sizeof name->bytes - sizeof length;
}

// Whether the 32-bit view has a key of its own at that path: one that
// exists and is not the native key (the views share some keys, such as
// those under HKEY_CURRENT_USER\Software).
bool OwnKeyIn32BitView(HKEY root, const char* keyPath) {
    KeyName wow64;
    KeyName native;
    if (!ReadRegistryKeyName(root, keyPath, KEY_WOW64_32KEY, &wow64)) return false;
    // The buffers are zero-filled past the names, so equal names compare equal whole.
    return !ReadRegistryKeyName(root, keyPath, KEY_WOW64_64KEY, &native) ||
           memcmp(wow64.bytes, native.bytes, sizeof wow64.bytes) != 0;
}
#endif

}  // namespace

void ForEachDroppedFile(DroppedFileVisit visit, void* context) {
    char systemFolder[261] = "";
    // Without the folder the names would be looked for in the current one.
    const bool found = SystemFolder(systemFolder, sizeof systemFolder);
    VisitRowsIn(systemFolder, ReadyFolder(systemFolder, sizeof systemFolder, found), true, visit, context);
#ifdef _WIN64
    // On 64-bit Windows the worm's files land in the 32-bit system folder,
    // which a 64-bit program does not see under the native folder's name.
    char wow64Folder[261] = "";
    const bool wow64Found = Wow64SystemFolder(wow64Folder, sizeof wow64Folder);
    // No such folder: nothing of the worm's can lie there.
    if (!wow64Found && GetLastError() != ERROR_FILENAME_EXCED_RANGE) return;
    VisitRowsIn(wow64Folder, ReadyFolder(wow64Folder, sizeof wow64Folder, wow64Found), false, visit, context);
#endif
}

void ForEachRegistryView(HKEY root, const char* keyPath, RegistryViewVisit visit, void* context) {
#ifdef _WIN64
    // The worm is a 32-bit program: its values may lie in the 32-bit view,
    // which a 64-bit program does not see unless it asks for it. A key
    // missing from the 32-bit view has nothing there.
    visit(KEY_WOW64_64KEY, context);
    if (OwnKeyIn32BitView(root, keyPath)) visit(KEY_WOW64_32KEY, context);
#else
    (void)root;
    (void)keyPath;
    visit(0, context);
#endif
}

StartupValueFinding FindStartupValue(const StartupValue& value, REGSAM view) {
    StartupValueFinding finding{};
    UniqueRegKey key;
    finding.status = RegOpenKeyExA(value.root, value.keyPath, 0, KEY_QUERY_VALUE | view, key.put());
    if (finding.status != ERROR_SUCCESS) {
        finding.state = finding.status == ERROR_FILE_NOT_FOUND ? ValueState::KeyAbsent : ValueState::KeyUnreadable;
        return finding;
    }
    // One byte kept back for a terminator that the stored data may lack.
    finding.size = MAX_PATH;
    finding.status = RegQueryValueExA(key.get(), value.valueName, nullptr, &finding.type,
                                      reinterpret_cast<BYTE*>(finding.data), &finding.size);
    if (finding.status == ERROR_FILE_NOT_FOUND) {
        finding.state = ValueState::ValueAbsent;
    } else if (finding.status != ERROR_SUCCESS && finding.status != ERROR_MORE_DATA) {
        finding.state = ValueState::ValueUnreadable;
    } else {
        // Present whatever it holds: the removal deletes it whatever it holds.
        finding.state = ValueState::Present;
        finding.text = finding.status == ERROR_SUCCESS && (finding.type == REG_SZ || finding.type == REG_EXPAND_SZ);
        finding.data[finding.size < sizeof finding.data ? finding.size : sizeof finding.data - 1] = '\0';
    }
    return finding;
}

ShellLineFinding FindShellLine() {
    ShellLineFinding finding{};
    GetPrivateProfileStringA(WormShellLine.section, WormShellLine.key, "", finding.value, sizeof finding.value,
                             WormShellLine.file);
    finding.usual = _stricmp(finding.value, WormShellLine.usual) == 0;
    return finding;
}
