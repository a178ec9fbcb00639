#include "fileops/reboot_schedule.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "base/guards.h"
#include "base/platform.h"
#include "base/optional_functions.h"
#include "base/run_end.h"
#include "base/system_folders.h"
#include "base/wide_files.h"
#include "fileops/file_exist.h"
#include "fileops/ini_file.h"
#include "fileops/rename_list.h"
#include "fileops/restart_paths.h"
#include "scanner/scanner_channel.h"
#include "trace/trace.h"

// The operation each trace line of this file is written under.
#define SCHEDULE_TAG "[QRTK - AddFileToAutomaticRenameList]: "

namespace {

constexpr const char* ScannerServiceName = "Norvane Portiva";

void TraceNativePath(const char* shown, const char* native) {
    TRACE(TraceDetail, SCHEDULE_TAG "Native path for the restart (%s -> %s).\n", shown, native);
}

// A 32-bit program on a 64-bit system sees the 32-bit system folder under the
// native one's name, but the restart carries out a delayed move as a native
// program would and would act on the native folder. Files directly in the
// system directory are therefore recorded under the 32-bit folder's own name;
// its subfolders are not all redirected (spool, drivers\etc, catroot, ...),
// and nothing below them is handed to the restart by name anyway. None when
// the restart takes the path as it is.
template <typename Char>
std::optional<std::basic_string<Char>> NativePathForRestart(const Char* path) {
    // Missing on older systems, which have no WoW64.
    const auto isWow64Process = Kernel32Optional().isWow64Process;
    BOOL wow64 = FALSE;
    if (isWow64Process == nullptr || !isWow64Process(GetCurrentProcess(), &wow64) || !wow64) return std::nullopt;

    Char systemDir[MAX_PATH];
    Char wow64Dir[MAX_PATH];
    if (!SystemFolder(systemDir, MAX_PATH) || !Wow64SystemFolder(wow64Dir, MAX_PATH)) return std::nullopt;
    const size_t name = NameInFolder(path, systemDir);
    if (name == 0) return std::nullopt;
    return std::basic_string<Char>(wow64Dir) + Char('\\') + (path + name);
}

std::string PathForRestart(const char* path) {
    std::optional<std::string> native = NativePathForRestart(path);
    if (!native) return path;
    TraceNativePath(path, native->c_str());
    return *std::move(native);
}

std::wstring PathForRestart(const FileTarget& target) {
    std::optional<std::wstring> native = NativePathForRestart(target.path);
    if (!native) return target.path;
    TraceNativePath(target.shown.text, ShowPath(native->c_str()).text);
    return *std::move(native);
}

bool Scheduled(BOOL moved) {
    if (moved) {
        TRACE(TraceDetail, SCHEDULE_TAG "Operation is executed during reboot.\n");
    } else {
        TRACE(TraceFailure, SCHEDULE_TAG "Operation cannot be executed during reboot.\n");
    }
    return moved != FALSE;
}

bool ScheduleDelayedMove(const char* existingPath, const char* newPath) {
    const std::string existing = PathForRestart(existingPath);
    std::optional<std::string> target;
    if (newPath != nullptr) target = PathForRestart(newPath);
    return Scheduled(MoveFileExA(existing.c_str(), target ? target->c_str() : nullptr,
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
}

// A deletion by the file's whole name: an 8.3 name need not exist, and the
// code page cannot name the file otherwise.
bool ScheduleDelayedDeletion(const FileTarget& target) {
    const std::wstring existing = PathForRestart(target);
    return Scheduled(MoveFileExW(existing.c_str(), nullptr, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
}

// On the NT family the caller's rights choose the means: true for an
// administrator.
bool TraceRights() {
    TRACE(TraceDetail, SCHEDULE_TAG "System is NT.\n");
    if (IsAdministrator()) {
        TRACE(TraceDetail, SCHEDULE_TAG "User is admin.\n");
        return true;
    }
    TRACE(TraceDetail, SCHEDULE_TAG "User is not admin.\n");
    return false;
}

void TraceNoMeans() { TRACE(TraceFailure, SCHEDULE_TAG "No admin rights, no PV -> No renaming at reboot.\n"); }

bool HandRenameToScanner(const char* existingPath, const char* newPath) {
    RenameListStatus status = RenameListStatus::Ok;
    UniqueFile list = OpenRenameList(RenameListMode::Write, nullptr, &status);
    bool ok = static_cast<bool>(list);
    if (ok) {
        ok = AddRenamePair(list.get(), existingPath, newPath, &status) != 0;
        // Finishing closes the list, also after a failed addition.
        ok = FinishRenameList(std::move(list), &status) != 0 && ok;
    }
    if (!ok) {
        TRACE(TraceFailure, SCHEDULE_TAG "Portiva cannot do the renaming.\n");
        return false;
    }
    TRACE(TraceDetail, SCHEDULE_TAG "Portiva will do the renaming.\n");
    return true;
}

// The 260-character short form, or false when there is none.
bool ShortPath(const char* path, char (&shortPath)[MAX_PATH]) {
    const DWORD length = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (length != 0 && length < MAX_PATH) return true;
    TRACE(TraceFailure, SCHEDULE_TAG "GetShortPathName() call failed.\n");
    return false;
}

// A rename needs its target to exist so that it has a short name.
void CreatePlaceholder(const char* path) {
    UniqueFile file(fopen(path, "w"));
    if (file) fputs("Delete me!", file.get());
}

// Appends key=value to section "rename" of WININIT.INI in the Windows
// directory. False when the file cannot be written, or the run is ending.
bool AppendWininitEntry(const char* key, const char* value) {
    char windowsDir[MAX_PATH];
    if (!WindowsFolder(windowsDir, sizeof windowsDir)) return false;
    const std::string iniPath = std::string(windowsDir) + "\\WININIT.INI";
    // Held from the load to the end of the swap, which an end of the run
    // waits for: cut between its renames, a save leaves no file.
    const RunLockHeld held;
    if (RunIsEnding()) return false;
    IniFile model;
    LoadIniFile(model, iniPath.c_str());  // a missing file starts empty
    // Always a line of its own: every "nul" line, however many, is an
    // operation that some program left pending.
    AppendIniEntry(model, "rename", key, value);
    return SaveIniFile(model, iniPath.c_str()) == 0;
}

bool AddToWininit(const char* existingPath, const char* newPath) {
    TRACE(TraceDetail, SCHEDULE_TAG "System is not NT.\n");
    char shortExisting[MAX_PATH];
    if (!ShortPath(existingPath, shortExisting)) return false;
    char shortNew[MAX_PATH] = "";
    if (newPath != nullptr) {
        if (!FileExist(newPath)) CreatePlaceholder(newPath);
        if (!ShortPath(newPath, shortNew)) return false;
    }

    if (!AppendWininitEntry(newPath != nullptr ? shortNew : "nul", shortExisting)) {
        TRACE(TraceFailure, SCHEDULE_TAG "Operation cannot be executed during reboot.\n");
        return false;
    }
    TRACE(TraceDetail, SCHEDULE_TAG "Operation will be executed during reboot.\n");
    return true;
}

}  // namespace

int32_t AddFileToAutomaticRenameList(const char* existingPath, const char* newPath) {
    // The 9x family has MoveFileExA only as a stub that fails with
    // ERROR_CALL_NOT_IMPLEMENTED; its start-up reads WININIT.INI instead.
    if (!IsWindowsNT()) return AddToWininit(existingPath, newPath);
    if (TraceRights()) return ScheduleDelayedMove(existingPath, newPath);
    // Only renames go to the scanner; a deletion is refused without asking.
    if (newPath == nullptr || !IsServiceLoaded(ScannerServiceName)) {
        TraceNoMeans();
        return 0;
    }
    TRACE(TraceDetail, SCHEDULE_TAG "Portiva is loaded and can be used for renaming.\n");
    return HandRenameToScanner(existingPath, newPath);
}

int32_t AddFileToAutomaticRenameList(const FileTarget& existing) {
    if (!IsWindowsNT()) {
        if (existing.ansi && strlen(existing.shown.text) < MAX_PATH) return AddToWininit(existing.shown.text, nullptr);
        TRACE(TraceFailure, SCHEDULE_TAG "Operation cannot be executed during reboot.\n");
        return 0;
    }
    if (TraceRights()) return ScheduleDelayedDeletion(existing);
    TraceNoMeans();
    return 0;
}
