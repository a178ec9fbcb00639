#include "fileops/replace_file.h"

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "base/guards.h"
#include "base/optional_functions.h"
#include "base/outcome.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "fileops/nt_file.h"
#include "fileops/quarantine.h"
#include "fileops/reboot_schedule.h"
#include "trace/trace.h"

// The operation the existence checks' trace lines are written under.
#define FILE_EXIST_TAG "[QRTK - FileExist]: "

namespace {

// 263 characters and the terminator.
constexpr size_t ReplacePathSize = 264;

// Prefix and name joined without a separator; a path that does not fit is
// refused whole, so that no other file is ever touched.
bool MakePath(char (&path)[ReplacePathSize], const char* prefix, const char* name) {
    if (JoinPath(path, sizeof path, prefix, name)) return true;
    TRACE(TraceFailure, REPLACE_FILE_TAG "Path is too long (%s%s).\n", prefix, name);
    return false;
}

// A read-only file refuses its deletion now and at the restart alike (the
// restart then leaves it where it is): a worm's file would outlast its
// removal through the attribute, which is therefore cleared first, by path
// or through the handle. 0 when it is not read-only (or unknown), else the
// attributes to set instead (no attribute at all is "normal").
DWORD WithoutReadOnly(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return 0;
    const DWORD others = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    return others != 0 ? others : FILE_ATTRIBUTE_NORMAL;
}

void TraceReadOnlyCleared(const char* shown) {
    TRACE(TraceDetail, REPLACE_FILE_TAG "Read-only attribute cleared (%s).\n", shown);
}

void ClearReadOnly(const char* path) {
    const DWORD attributes = WithoutReadOnly(GetFileAttributesA(path));
    if (attributes != 0 && SetFileAttributesA(path, attributes)) TraceReadOnlyCleared(path);
}

// Traces what became of a file handed to the restart; false (with the error
// reported) when it could not be scheduled either.
bool ScheduledDeletion(bool scheduled, const char* shown, int32_t context) {
    if (scheduled) {
        TRACE(TraceDetail, REPLACE_FILE_TAG "File will be deleted during reboot (%s).\n", shown);
        return true;
    }
    TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be deleted during reboot (%s).\n", shown);
    ReportError(ErrorReportCode::DeletionFailed, context);
    return false;
}

bool ScheduleDeletion(const char* path, int32_t context) {
    return ScheduledDeletion(AddFileToAutomaticRenameList(path, nullptr) != 0, path, context);
}

// Deletion by name of a file known to exist.
ReplaceFileResult DeleteOperationConfirmed(const char* source, int32_t context) {
    ClearReadOnly(source);
    if (remove(source) == 0) {
        TRACE(TraceDetail, REPLACE_FILE_TAG "File was deleted (%s).\n", source);
        return ReplaceFileResult::Done;
    }
    const int error = errno;  // before tracing can change it
    TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to delete the file (%s).\n", source);
    if (error == ENOENT) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File not found or it is a directory (%s).\n", source);
        return ReplaceFileResult::NotFound;
    }
    if (error != EACCES) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be deleted, error %d (%s).\n", error, source);
        ReportError(ErrorReportCode::DeletionFailed, context);
        return ReplaceFileResult::Failed;
    }
    // In use or protected: the restart may succeed where this failed.
    return ScheduleDeletion(source, context) ? ReplaceFileResult::DoneAtReboot : ReplaceFileResult::Failed;
}

// The existence test of a source, traced; Done when it exists, else the
// result to return (a failed test reported with code).
ReplaceFileResult CheckSource(FileExistence existence, const char* source, ErrorReportCode code, int32_t context) {
    switch (existence) {
    case FileExistence::Present:
        TRACE(TraceDetail, REPLACE_FILE_TAG "Src file exists (%s).\n", source);
        return ReplaceFileResult::Done;
    case FileExistence::Absent:
        TRACE(TraceFailure, REPLACE_FILE_TAG "Src file does not exist (%s).\n", source);
        return ReplaceFileResult::NotFound;
    default:
        TRACE(TraceFailure, REPLACE_FILE_TAG "Src file cannot be checked (%s).\n", source);
        ReportError(code, context);
        return ReplaceFileResult::Failed;
    }
}

ReplaceFileResult DeleteOperation(const char* source, int32_t context) {
    TRACE(TraceDetail, REPLACE_FILE_TAG "Delete operation (%s).\n", source);
    const ReplaceFileResult checked =
        CheckSource(ExistenceOf(source), source, ErrorReportCode::DeletionFailed, context);
    return checked == ReplaceFileResult::Done ? DeleteOperationConfirmed(source, context) : checked;
}

ReplaceFileResult RenameOperation(const char* source, const char* destination, int32_t context) {
    TRACE(TraceDetail, REPLACE_FILE_TAG "Rename operation (%s -> %s).\n", source, destination);
    const ReplaceFileResult checked = CheckSource(ExistenceOf(source), source, ErrorReportCode::RenameFailed, context);
    if (checked != ReplaceFileResult::Done) return checked;

    // rename does not replace an existing destination: remove it first.
    bool destinationRemoved = false;
    const FileExistence destinationExists = ExistenceOf(destination);
    if (destinationExists == FileExistence::Unchecked) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "Dest file cannot be checked (%s).\n", destination);
        ReportError(ErrorReportCode::DestinationNotRemoved, context);
        return ReplaceFileResult::Failed;
    }
    if (destinationExists == FileExistence::Present) {
        TRACE(TraceDetail, REPLACE_FILE_TAG "Dest file exists (%s).\n", destination);
        if (remove(destination) == 0) {
            TRACE(TraceDetail, REPLACE_FILE_TAG "Dest file deleted (%s).\n", destination);
            destinationRemoved = true;
        } else {
            const int error = errno;
            TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to delete the file (%s).\n", destination);
            if (error == ENOENT) {
                // Gone meanwhile: the rename can go on.
                TRACE(TraceFailure, REPLACE_FILE_TAG "Dest file does not exist any more (%s).\n", destination);
            } else if (error != EACCES) {
                TRACE(TraceFailure, REPLACE_FILE_TAG "Dest file cannot be deleted, error %d (%s).\n", error,
                      destination);
                ReportError(ErrorReportCode::DestinationNotRemoved, context);
                return ReplaceFileResult::Failed;
            } else {
                // Both steps go to the restart, the destination's deletion first.
                if (!ScheduleDeletion(destination, context)) return ReplaceFileResult::Failed;
                if (AddFileToAutomaticRenameList(source, destination)) {
                    TRACE(TraceDetail, REPLACE_FILE_TAG "Src file will be deleted during reboot (%s).\n",
                          source);
                    return ReplaceFileResult::DoneAtReboot;
                }
                TRACE(TraceFailure, REPLACE_FILE_TAG "Src file cannot be deleted during reboot (%s).\n", source);
                ReportError(ErrorReportCode::RenameFailed, context);
                return ReplaceFileResult::FailedDestinationRemoved;
            }
        }
    }

    if (rename(source, destination) == 0) {
        TRACE(TraceDetail, REPLACE_FILE_TAG "Src file was successfully renamed (%s -> %s).\n", source,
              destination);
        return ReplaceFileResult::Done;
    }
    const int error = errno;
    TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to rename the source file (%s).\n", source);
    if (error == EACCES) {
        // In use or protected: the restart may succeed where this failed.
        if (AddFileToAutomaticRenameList(source, destination)) {
            TRACE(TraceDetail, REPLACE_FILE_TAG "Src file will be renamed during reboot(%s -> %s).\n", source,
                  destination);
            return ReplaceFileResult::DoneAtReboot;
        }
        TRACE(TraceFailure, REPLACE_FILE_TAG "Src file cannot be renamed during reboot(%s -> %s).\n", source,
              destination);
    } else if (error == ENOENT && !destinationRemoved && ExistenceOf(source) == FileExistence::Absent) {
        // Not found may also mean the destination's folder: only a source
        // that is gone makes it nothing done.
        TRACE(TraceFailure, REPLACE_FILE_TAG "Src file does not exist (%s).\n", source);
        return ReplaceFileResult::NotFound;
    } else {
        TRACE(TraceFailure, REPLACE_FILE_TAG "Src file cannot be renamed, error %d (%s -> %s).\n", error, source,
              destination);
    }
    ReportError(ErrorReportCode::RenameFailed, context);
    return destinationRemoved ? ReplaceFileResult::FailedDestinationRemoved : ReplaceFileResult::Failed;
}

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

// Whether path names a file, traced under the path as shown. Only a missing
// file or folder makes a file absent: one that others hold, however they
// hold it, is there. Attribute access is not subject to sharing on the NT
// family; the 9x family knows reading alone.
template <typename Char>
FileExistence Existence(const Char* path, const char* shown) {
    SetLastError(0xdeadbeef);
    const UniqueFileHandle file = OpenShared(path, IsWindowsNT() ? FILE_READ_ATTRIBUTES : GENERIC_READ);
    const DWORD error = GetLastError();
    if (file) {
        TRACE(TraceDetail, FILE_EXIST_TAG "File %s exists.\n", shown);
        return FileExistence::Present;
    }
    if (IsAbsence(error)) {
        TRACE(TraceDetail, FILE_EXIST_TAG "File %s does not exist.\n", shown);
        return FileExistence::Absent;
    }
    TRACE(TraceFailure, FILE_EXIST_TAG "File %s cannot be checked, error %ld.\n", shown, error);
    return FileExistence::Unchecked;
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
ReplaceFileResult Refuse(const char* reason, const char* shown, int32_t context) {
    TRACE(TraceFailure, REPLACE_FILE_TAG "%s, not touched (%s).\n", reason, shown);
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

void ClearReadOnly(HANDLE file, const FileIdentity& found, const char* shown) {
    const auto setInformation = NtdllOptional().ntSetInformationFile;
    FileBasicInformation basic{};
    basic.attributes = WithoutReadOnly(found.attributes);
    FileIoStatus io{};
    if (basic.attributes != 0 && setInformation != nullptr &&
        setInformation(file, &io, &basic, sizeof basic, FileBasicInformationClass) >= 0) {
        TraceReadOnlyCleared(shown);
    }
}

// A file that cannot go now goes at the restart only under a path that no
// user can change until then: its own in a system folder, else one in a
// folder of the program's own, where it is moved first. Nothing else is
// handed to the restart.
ReplaceFileResult DeleteAtRestart(const wchar_t* path, const char* shown, const OpenedAgain& again,
                                  const FileIdentity& found, int32_t context) {
    if (IsInSystemFolder(path)) {
        // Scheduled by its whole name while the handle still holds the
        // confirmed file in place.
        return ScheduledDeletion(AddFileToAutomaticRenameList(path) != 0, shown, context)
                   ? ReplaceFileResult::DoneAtReboot
                   : ReplaceFileResult::Failed;
    }
    if (!again.movable) {
        TRACE(TraceFailure,
              REPLACE_FILE_TAG "File cannot be moved out of users' reach, error %ld: nothing is scheduled (%s).\n",
              again.moveError, shown);
    } else if (MoveOutOfReachForRestart(again.file.get(), found, path, shown)) {
        return ReplaceFileResult::DoneAtReboot;
    }
    ReportError(ErrorReportCode::DeletionFailed, context);
    return ReplaceFileResult::Failed;
}

// The NT family names files in Unicode: every call here takes the whole
// path, whatever the code page holds of it.
ReplaceFileResult DeleteRecognisedFileNt(const wchar_t* path, RecognisedFile& recognised,
                                         ContentCheck stillRecognised, int32_t context) {
    const DisplayedPath shown = ShowPath(path);
    TRACE(TraceDetail, REPLACE_FILE_TAG "Delete operation (%s).\n", shown.text);
    // The file functions take no longer path without the \\?\ form, and
    // may answer for one as for a missing file: no verdict rests on that.
    if (wcslen(path) >= MAX_PATH) return Refuse("The path is too long for the file functions", shown.text, context);
    const ReplaceFileResult checked =
        CheckSource(Existence(path, shown.text), shown.text, ErrorReportCode::DeletionFailed, context);
    if (checked != ReplaceFileResult::Done) return checked;
    if (FolderIsReparsePoint(path)) return Refuse("A folder of the path is a reparse point", shown.text, context);
    OpenedAgain again = OpenAgain(path);
    FileIdentity found;
    const bool same = again.file && recognised.handle && ReadFileIdentity(again.file.get(), &found) &&
                      SameFile(found, recognised.identity) && stillRecognised(again.file.get());
    recognised.handle.reset();
    if (!same) return Refuse(OtherFile, shown.text, context);

    const auto setInformation = NtdllOptional().ntSetInformationFile;
    if (setInformation == nullptr) return Refuse("No deletion by handle on this system", shown.text, context);
    ClearReadOnly(again.file.get(), found, shown.text);
    if (!again.deletable) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to delete the file (%s).\n", shown.text);
        return DeleteAtRestart(path, shown.text, again, found, context);
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
        if (WideGetFileAttributes(path) == INVALID_FILE_ATTRIBUTES && IsAbsence(GetLastError())) {
            TRACE(TraceDetail, REPLACE_FILE_TAG "File was deleted (%s).\n", shown.text);
            return ReplaceFileResult::Done;
        }
        TRACE(TraceDetail,
              REPLACE_FILE_TAG "File will be deleted when other programs close it, at the latest at the "
              "restart (%s).\n",
              shown.text);
        return ReplaceFileResult::DoneAtReboot;
    }
    TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to delete the file (%s).\n", shown.text);
    if (NotFoundStatus(status)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File not found or it is a directory (%s).\n", shown.text);
        return ReplaceFileResult::NotFound;
    }
    if (!InUseStatus(status)) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be deleted, status %08X (%s).\n",
              static_cast<unsigned>(status), shown.text);
        ReportError(ErrorReportCode::DeletionFailed, context);
        return ReplaceFileResult::Failed;
    }
    return DeleteAtRestart(path, shown.text, again, found, context);
}

// The 9x family deletes no open file, and FAT may number a file anew once
// its last handle closes: the content seen through the second open is the
// proof there (and no other user can swap the file). Deleted by name right
// after the check, with the handle closed. It has neither reparse points nor
// deletion by handle.
ReplaceFileResult DeleteRecognisedFile9x(const char* path, RecognisedFile& recognised, ContentCheck stillRecognised,
                                         int32_t context) {
    TRACE(TraceDetail, REPLACE_FILE_TAG "Delete operation (%s).\n", path);
    const ReplaceFileResult checked = CheckSource(ExistenceOf(path), path, ErrorReportCode::DeletionFailed, context);
    recognised.handle.reset();
    if (checked != ReplaceFileResult::Done) return checked;
    UniqueFileHandle file = OpenShared(path, GENERIC_READ);
    const bool same = file && stillRecognised(file.get());
    file.reset();
    if (!same) return Refuse(OtherFile, path, context);
    return DeleteOperationConfirmed(path, context);
}

}  // namespace

ReplaceFileResult DeleteRecognisedFile(const char* path, RecognisedFile& recognised, ContentCheck stillRecognised,
                                       int32_t context) {
    if (!IsWindowsNT()) return DeleteRecognisedFile9x(path, recognised, stillRecognised, context);
    wchar_t wide[ReplacePathSize];
    if (!AnsiToWide(path, wide, ReplacePathSize)) return Refuse(Unnamable, path, context);
    return DeleteRecognisedFileNt(wide, recognised, stillRecognised, context);
}

ReplaceFileResult DeleteRecognisedFile(const wchar_t* path, RecognisedFile& recognised, ContentCheck stillRecognised,
                                       int32_t context) {
    if (IsWindowsNT()) return DeleteRecognisedFileNt(path, recognised, stillRecognised, context);
    // The 9x family's paths all come from ANSI calls: this gives their bytes back.
    char narrow[ReplacePathSize];
    if (!WideToAnsi(path, narrow, sizeof narrow)) return Refuse(Unnamable, ShowPath(path).text, context);
    return DeleteRecognisedFile9x(narrow, recognised, stillRecognised, context);
}

FileExistence ExistenceOf(const char* path) { return Existence(path, path); }

int32_t FileExist(const char* path) { return static_cast<int32_t>(ExistenceOf(path)); }

ReplaceFileResult ReplaceFile(const char* prefix, const char* sourceName, const char* destinationName,
                              int32_t context) {
    char source[ReplacePathSize];
    if (!MakePath(source, prefix, sourceName)) {
        ReportError(destinationName == nullptr ? ErrorReportCode::DeletionFailed : ErrorReportCode::RenameFailed,
                    context);
        return ReplaceFileResult::Failed;
    }
    if (destinationName == nullptr) return DeleteOperation(source, context);

    char destination[ReplacePathSize];
    if (!MakePath(destination, prefix, destinationName)) {
        ReportError(ErrorReportCode::RenameFailed, context);
        return ReplaceFileResult::Failed;
    }
    return RenameOperation(source, destination, context);
}

void ApplyResultRule(ReplaceFileResult result) {
    switch (result) {
    case ReplaceFileResult::DoneAtReboot:
        AddRebootNeeded();
        break;
    case ReplaceFileResult::FailedDestinationRemoved:
    case ReplaceFileResult::Failed:
        AddError();
        break;
    default:
        break;
    }
}
