#include "fileops/restart_handover.h"

#include "base/outcome.h"
#include "base/system_folders.h"
#include "fileops/quarantine.h"
#include "fileops/reboot_schedule.h"
#include "fileops/replace_file_tag.h"
#include "fileops/restart_paths.h"
#include "trace/trace.h"

namespace {

bool Scheduled(bool scheduled, const char* shown, int32_t context) {
    if (scheduled) {
        TRACE(TraceDetail, REPLACE_FILE_TAG "File will be deleted during reboot (%s).\n", shown);
        return true;
    }
    TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be deleted during reboot (%s).\n", shown);
    ReportError(ErrorReportCode::DeletionFailed, context);
    return false;
}

// Whether path names a file directly in a system folder, which only
// administrators can change: the program's system directory and, on 64-bit
// Windows, the 32-bit system folder.
bool IsInSystemFolder(const wchar_t* path) {
    wchar_t folder[MAX_PATH];
    if (SystemFolder(folder, MAX_PATH) && NameInFolder(path, folder) != 0) return true;
    return Wow64SystemFolder(folder, MAX_PATH) && NameInFolder(path, folder) != 0;
}

}  // namespace

bool HandDeletionToRestart(const char* path, int32_t context) {
    return Scheduled(AddFileToAutomaticRenameList(path, nullptr) != 0, path, context);
}

ReplaceFileResult DeleteAtRestart(const FileTarget& target, const HeldFile& held, int32_t context) {
    if (IsInSystemFolder(target.path)) {
        return Scheduled(AddFileToAutomaticRenameList(target) != 0, target.shown.text, context)
                   ? ReplaceFileResult::DoneAtReboot
                   : ReplaceFileResult::Failed;
    }
    if (!held.movable) {
        TRACE(TraceFailure,
              REPLACE_FILE_TAG "File cannot be moved out of users' reach, error %ld: nothing is scheduled (%s).\n",
              held.moveError, target.shown.text);
    } else if (MoveOutOfReachForRestart(held.handle, held.identity, target)) {
        return ReplaceFileResult::DoneAtReboot;
    }
    ReportError(ErrorReportCode::DeletionFailed, context);
    return ReplaceFileResult::Failed;
}
