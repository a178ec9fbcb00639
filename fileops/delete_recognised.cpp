#include "fileops/delete_recognised.h"

#include <cwchar>

#include "base/guards.h"
#include "base/optional_functions.h"
#include "base/outcome.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "fileops/file_exist.h"
#include "fileops/nt_file.h"
#include "fileops/read_only.h"
#include "fileops/replace_file.h"
#include "fileops/replace_file_tag.h"
#include "fileops/restart_handover.h"
#include "trace/trace.h"

namespace {

// Running programs, protected files and files others hold without delete
// sharing: the restart may do what failed now.
bool InUseStatus(LONG status) {
    return status == static_cast<LONG>(0xC0000121) ||  // STATUS_CANNOT_DELETE
           status == static_cast<LONG>(0xC0000043) ||  // STATUS_SHARING_VIOLATION
           status == static_cast<LONG>(0xC0000022);    // STATUS_ACCESS_DENIED
}

bool NotFoundStatus(LONG status) {
    return status == static_cast<LONG>(0xC0000034) ||  // STATUS_OBJECT_NAME_NOT_FOUND
           status == static_cast<LONG>(0xC000003A);    // STATUS_OBJECT_PATH_NOT_FOUND
}

// Whether a folder on the way to path (below the drive root) is a reparse
// point (a junction or a symbolic link), which could lead elsewhere by the
// time the restart acts on the path.
bool FolderIsReparsePoint(const wchar_t* path) {
    wchar_t folder[ReplacePathSize];
    const size_t length = wcslen(path);
    if (length >= ReplacePathSize) return true;
    wmemcpy(folder, path, length + 1);
    for (size_t at = 3; at < length; ++at) {
        if (folder[at] != L'\\') continue;
        folder[at] = L'\0';
        const DWORD attributes = WideGetFileAttributes(folder);
        folder[at] = L'\\';
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    }
    return false;
}

// A deletion refused before the file is touched: traced with the reason,
// reported, Failed.
ReplaceFileResult Refuse(const char* reason, const FileTarget& target, int32_t context) {
    TRACE(TraceFailure, REPLACE_FILE_TAG "%s, not touched (%s).\n", reason, target.shown.text);
    ReportError(ErrorReportCode::DeletionFailed, context);
    return ReplaceFileResult::Failed;
}

constexpr char OtherFile[] = "The path names another file now";
constexpr char Unnamable[] = "The file has no name that the file functions take";

// The file at path again on the NT family, never what a reparse point that
// the file itself is leads to, with what the others who hold it allow.
struct OpenedAgain {
    UniqueFileHandle file;
    // Delete access while nobody else may write to the file or delete it:
    // the others can only read it and cannot undo its deletion or its move.
    bool deletable = false;
    // And the rights to the file's owner and access list: enough to move it
    // out of users' reach.
    bool movable = false;
    DWORD moveError = 0;  // why it cannot be moved
};

OpenedAgain OpenAgain(const wchar_t* path) {
    OpenedAgain again;
    // Attribute changes are not subject to sharing.
    const DWORD reading = FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT;
    again.file.reset(WideCreateFile(path, reading | DELETE | WRITE_DAC | WRITE_OWNER, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, flags, nullptr));
    if (again.file) {
        again.deletable = again.movable = true;
        return again;
    }
    again.moveError = GetLastError();
    // An access list that withholds the rights to itself still lets the
    // file go now.
    if (again.moveError == ERROR_ACCESS_DENIED) {
        again.file.reset(
            WideCreateFile(path, reading | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
        if (again.file) {
            again.deletable = true;
            return again;
        }
    }
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    again.file.reset(WideCreateFile(path, reading, all, nullptr, OPEN_EXISTING, flags, nullptr));
    return again;
}

// The NT family names files in Unicode: every call here takes the whole
// path, whatever the code page holds of it.
ReplaceFileResult DeleteRecognisedFileNt(const FileTarget& target, RecognisedFile& recognised,
                                         ContentCheck stillRecognised, int32_t context) {
    const char* const shown = target.shown.text;
    TRACE(TraceDetail, REPLACE_FILE_TAG "Delete operation (%s).\n", shown);
    // The file functions take no longer path without the \\?\ form, and
    // may answer for one as for a missing file: no verdict rests on that.
    if (wcslen(target.path) >= MAX_PATH) return Refuse("The path is too long for the file functions", target, context);
    const ReplaceFileResult checked =
        CheckSource(ExistenceOf(target), shown, ErrorReportCode::DeletionFailed, context);
    if (checked != ReplaceFileResult::Done) return checked;
    if (FolderIsReparsePoint(target.path)) return Refuse("A folder of the path is a reparse point", target, context);
    OpenedAgain again = OpenAgain(target.path);
    HeldFile held{again.file.get(), {}, again.movable, again.moveError};
    const bool same = again.file && recognised.handle && ReadFileIdentity(again.file.get(), &held.identity) &&
                      SameFile(held.identity, recognised.identity) && stillRecognised(again.file.get());
    recognised.handle.reset();
    if (!same) return Refuse(OtherFile, target, context);

    const auto setInformation = NtdllOptional().ntSetInformationFile;
    if (setInformation == nullptr) return Refuse("No deletion by handle on this system", target, context);
    ClearReadOnly(again.file.get(), held.identity, shown);
    if (!again.deletable) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to delete the file (%s).\n", shown);
        return DeleteAtRestart(target, held, context);
    }
    FileDispositionInformation disposition{TRUE};
    FileIoStatus io{};
    const LONG status =
        setInformation(again.file.get(), &io, &disposition, sizeof disposition, FileDispositionInformationClass);
    if (status >= 0) {
        // The file goes with its last handle: gone now unless a program that
        // only reads it holds it still.
        again.file.reset();
        SetLastError(0xdeadbeef);
        if (WideGetFileAttributes(target.path) == INVALID_FILE_ATTRIBUTES && IsAbsence(GetLastError())) {
            TRACE(TraceDetail, REPLACE_FILE_TAG "File was deleted (%s).\n", shown);
            return ReplaceFileResult::Done;
        }
        TRACE(TraceDetail,
              REPLACE_FILE_TAG "File will be deleted when other programs close it, at the latest at the "
              "restart (%s).\n",
              shown);
        return ReplaceFileResult::DoneAtReboot;
    }
    TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to delete the file (%s).\n", shown);
    if (NotFoundStatus(status)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File not found or it is a directory (%s).\n", shown);
        return ReplaceFileResult::NotFound;
    }
    if (!InUseStatus(status)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be deleted, status %08X (%s).\n",
              static_cast<unsigned>(status), shown);
        ReportError(ErrorReportCode::DeletionFailed, context);
        return ReplaceFileResult::Failed;
    }
    return DeleteAtRestart(target, held, context);
}

// The 9x family deletes no open file, and FAT may number a file anew once
// its last handle closes: the content seen through the second open is the
// proof there (and no other user can swap the file). Deleted by name right
// after the check, with the handle closed. It has neither reparse points nor
// deletion by handle, and names the file by its ANSI path.
ReplaceFileResult DeleteRecognisedFile9x(const FileTarget& target, RecognisedFile& recognised,
                                         ContentCheck stillRecognised, int32_t context) {
    if (!target.ansi) return Refuse(Unnamable, target, context);
    const char* const path = target.shown.text;
    TRACE(TraceDetail, REPLACE_FILE_TAG "Delete operation (%s).\n", path);
    const ReplaceFileResult checked = CheckSource(ExistenceOf(path), path, ErrorReportCode::DeletionFailed, context);
    recognised.handle.reset();
    if (checked != ReplaceFileResult::Done) return checked;
    UniqueFileHandle file = OpenShared(path, GENERIC_READ);
    const bool same = file && stillRecognised(file.get());
    file.reset();
    if (!same) return Refuse(OtherFile, target, context);
    return DeleteExistingFile(path, context);
}

}  // namespace

ReplaceFileResult DeleteRecognisedFile(const FileTarget& target, RecognisedFile& recognised,
                                       ContentCheck stillRecognised, int32_t context) {
    return IsWindowsNT() ? DeleteRecognisedFileNt(target, recognised, stillRecognised, context)
                         : DeleteRecognisedFile9x(target, recognised, stillRecognised, context);
}
