#include "fileops/replace_file.h"

#include <cerrno>
#include <cstdio>

#include "base/guards.h"
#include "base/outcome.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/runtime_link.h"
#include "fileops/reboot_schedule.h"
#include "trace/trace.h"

namespace {

// 263 characters and the terminator.
constexpr size_t ReplacePathSize = 264;

// Prefix and name joined without a separator; a path that does not fit is
// refused whole, so that no other file is ever touched.
bool MakePath(char (&path)[ReplacePathSize], const char* prefix, const char* name) {
    if (JoinPath(path, sizeof path, prefix, name)) return true;
    TRACE(TraceFailure, "[QRTK - ReplaceFile]: Path is too long (%s%s).\n", prefix, name);
    return false;
}

// A read-only file refuses its deletion now and at the restart alike (the
// restart then leaves it where it is): a worm's file would outlast its
// removal through the attribute, which is therefore cleared first.
void ClearReadOnly(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
    const DWORD others = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (SetFileAttributesA(path, others != 0 ? others : FILE_ATTRIBUTE_NORMAL)) {
        TRACE(TraceDetail, "[QRTK - ReplaceFile]: Read-only attribute cleared (%s).\n", path);
    }
}

// Hands a file that could not be deleted now to the restart; false (with
// the error reported) when that cannot be done either.
bool ScheduleDeletion(const char* path, int32_t context) {
    if (AddFileToAutomaticRenameList(path, nullptr)) {
        TRACE(TraceDetail, "[QRTK - ReplaceFile]: File will be deleted during reboot (%s).\n", path);
        return true;
    }
    TRACE(TraceFailure, "[QRTK - ReplaceFile]: File cannot be deleted during reboot (%s).\n", path);
    ReportError(3, 23, 0, 0, context);
    return false;
}

// Deletion by name of a file known to exist.
int32_t DeleteOperationConfirmed(const char* source, int32_t context) {
    ClearReadOnly(source);
    if (remove(source) == 0) {
        TRACE(TraceDetail, "[QRTK - ReplaceFile]: File was deleted (%s).\n", source);
        return Done;
    }
    const int error = errno;  // before tracing can change it
    TRACE(TraceFailure, "[QRTK - ReplaceFile]: Failed to delete the file (%s).\n", source);
    if (error != EACCES) {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: File not found or it is a directory (%s).\n", source);
        return NotFound;
    }
    // In use or protected: the restart may succeed where this failed.
    return ScheduleDeletion(source, context) ? DoneAtReboot : Failed;
}

int32_t DeleteOperation(const char* source, int32_t context) {
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Delete operation (%s).\n", source);
    if (!FileExist(source)) {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: Src file does not exist (%s).\n", source);
        return NotFound;
    }
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Src file exists (%s).\n", source);
    return DeleteOperationConfirmed(source, context);
}

int32_t RenameOperation(const char* source, const char* destination, int32_t context) {
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Rename operation (%s -> %s).\n", source, destination);
    if (!FileExist(source)) {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: Src file does not exist (%s).\n", source);
        return NotFound;
    }
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Src file exists (%s).\n", source);

    // rename does not replace an existing destination: remove it first.
    bool destinationRemoved = false;
    if (FileExist(destination)) {
        TRACE(TraceDetail, "[QRTK - ReplaceFile]: Dest file exists (%s).\n", destination);
        if (remove(destination) == 0) {
            TRACE(TraceDetail, "[QRTK - ReplaceFile]: Dest file deleted (%s).\n", destination);
            destinationRemoved = true;
        } else {
            const int error = errno;
            TRACE(TraceFailure, "[QRTK - ReplaceFile]: Failed to delete the file (%s).\n", destination);
            if (error != EACCES) {
                TRACE(TraceFailure, "[QRTK - ReplaceFile]: Dest file is a directory (%s).\n", destination);
                ReportError(3, 20, 0, 0, context);
                return Failed;
            }
            // Both steps go to the restart, the destination's deletion first.
            if (!ScheduleDeletion(destination, context)) return Failed;
            if (AddFileToAutomaticRenameList(source, destination)) {
                TRACE(TraceDetail, "[QRTK - ReplaceFile]: Src file will be deleted during reboot (%s).\n", source);
                return DoneAtReboot;
            }
            TRACE(TraceFailure, "[QRTK - ReplaceFile]: Src file cannot be deleted during reboot (%s).\n", source);
            ReportError(3, 22, 0, 0, context);
            return FailedDestinationRemoved;
        }
    }

    if (rename(source, destination) == 0) {
        TRACE(TraceDetail, "[QRTK - ReplaceFile]: Src file was successfully renamed (%s -> %s).\n", source,
              destination);
        return Done;
    }
    TRACE(TraceFailure, "[QRTK - ReplaceFile]: Failed to rename the source file (%s).\n", source);
    if (AddFileToAutomaticRenameList(source, destination)) {
        TRACE(TraceDetail, "[QRTK - ReplaceFile]: Src file will be renamed during reboot(%s -> %s).\n", source,
              destination);
        return DoneAtReboot;
    }
    TRACE(TraceFailure, "[QRTK - ReplaceFile]: Src file cannot be renamed during reboot(%s -> %s).\n", source,
          destination);
    ReportError(3, 22, 0, 0, context);
    return destinationRemoved ? FailedDestinationRemoved : Failed;
}

// NtSetInformationFile and its records, as NT 4.0 and later have them: the
// one way to act on an open file by handle there (SetFileInformationByHandle
// came with Vista). Looked up at run time; the 9x family has no NTDLL.DLL.
struct IoStatus {
    LONG_PTR status;
    ULONG_PTR information;
};
struct FileBasicInformation {
    LARGE_INTEGER creationTime;  // zero: unchanged
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    ULONG attributes;
};
struct FileDispositionInformation {
    BOOLEAN deleteFile;
};
constexpr int FileBasicInformationClass = 4;
constexpr int FileDispositionInformationClass = 13;
using NtSetInformationFileFn = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, int);

NtSetInformationFileFn NtSetInformationFileEntry() {
    static const auto entry = LookUp<NtSetInformationFileFn>(GetModuleHandleA("NTDLL.DLL"), "NtSetInformationFile");
    return entry;
}

// Running programs, protected files and files others hold without delete
// sharing: the restart may do what failed now.
bool InUseStatus(LONG status) {
    return status == static_cast<LONG>(0xC0000121) ||  // STATUS_CANNOT_DELETE
           status == static_cast<LONG>(0xC0000043) ||  // STATUS_SHARING_VIOLATION
           status == static_cast<LONG>(0xC0000022);    // STATUS_ACCESS_DENIED
}

// Whether a folder on the way to path (below the drive root) is a reparse
// point (a junction or a symbolic link), which could lead elsewhere by the
// time the restart acts on the path.
bool FolderIsReparsePoint(const char* path) {
    char folder[ReplacePathSize];
    if (!JoinPath(folder, sizeof folder, "", path)) return true;
    for (char* at = folder + 3; *at != '\0'; ++at) {
        if (*at != '\\') continue;
        *at = '\0';
        const DWORD attributes = GetFileAttributesA(folder);
        *at = '\\';
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    }
    return false;
}

// The file at path again, for what the system allows: on the NT family
// with delete access where it is shared, without following a reparse point
// that the file itself is; read access and attribute changes at least.
// (Attribute access is not subject to sharing.)
UniqueFileHandle OpenAgain(const char* path, bool nt, bool* canDelete) {
    *canDelete = false;
    if (!nt) {
        return UniqueFileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    }
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD reading = FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
    UniqueFileHandle file(
        CreateFileA(path, reading | DELETE, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file) {
        *canDelete = true;
        return file;
    }
    return UniqueFileHandle(
        CreateFileA(path, reading, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Through the handle: read-only files refuse deletion now and at the restart.
void ClearReadOnlyByHandle(HANDLE file, const FileIdentity& found, const char* path) {
    const NtSetInformationFileFn setInformation = NtSetInformationFileEntry();
    if ((found.attributes & FILE_ATTRIBUTE_READONLY) == 0 || setInformation == nullptr) return;
    FileBasicInformation basic{};
    const DWORD others = found.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    basic.attributes = others != 0 ? others : FILE_ATTRIBUTE_NORMAL;
    IoStatus io{};
    if (setInformation(file, &io, &basic, sizeof basic, FileBasicInformationClass) >= 0) {
        TRACE(TraceDetail, "[QRTK - ReplaceFile]: Read-only attribute cleared (%s).\n", path);
    }
}

}  // namespace

int32_t DeleteRecognisedFile(const char* path, RecognisedFile& recognised, ContentCheck stillRecognised,
                             int32_t context) {
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Delete operation (%s).\n", path);
    if (!FileExist(path)) {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: Src file does not exist (%s).\n", path);
        return NotFound;
    }
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Src file exists (%s).\n", path);

    // The 9x family has neither reparse points nor deletion by handle.
    const bool nt = IsWindowsNT() != 0;
    if (nt && FolderIsReparsePoint(path)) {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: A folder of the path is a reparse point, not touched (%s).\n",
              path);
        ReportError(3, 23, 0, 0, context);
        return Failed;
    }
    bool canDelete = false;
    UniqueFileHandle file;
    FileIdentity found;
    bool same = false;
    if (nt) {
        file = OpenAgain(path, nt, &canDelete);
        same = file && recognised.handle && ReadFileIdentity(file.get(), &found) &&
               SameFile(found, recognised.identity) && stillRecognised(file.get());
        recognised.handle.reset();
    } else {
        // The 9x family deletes no open file, and FAT may number a file anew
        // once its last handle closes: the content seen through the second
        // open is the proof there (and no other user can swap the file).
        recognised.handle.reset();
        file = OpenAgain(path, nt, &canDelete);
        same = file && stillRecognised(file.get());
    }
    if (!same) {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: The path names another file now, not touched (%s).\n", path);
        ReportError(3, 23, 0, 0, context);
        return Failed;
    }

    const NtSetInformationFileFn setInformation = nt ? NtSetInformationFileEntry() : nullptr;
    if (setInformation == nullptr) {
        // No deletion by handle: by name right after the check, with the
        // handle closed, as the 9x family deletes no open file.
        file.reset();
        return DeleteOperationConfirmed(path, context);
    }
    ClearReadOnlyByHandle(file.get(), found, path);
    if (canDelete) {
        FileDispositionInformation disposition{TRUE};
        IoStatus io{};
        const LONG status = setInformation(file.get(), &io, &disposition, sizeof disposition,
                                           FileDispositionInformationClass);
        if (status >= 0) {
            file.reset();  // the file goes with the last handle
            TRACE(TraceDetail, "[QRTK - ReplaceFile]: File was deleted (%s).\n", path);
            return Done;
        }
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: Failed to delete the file (%s).\n", path);
        if (!InUseStatus(status)) {
            TRACE(TraceFailure, "[QRTK - ReplaceFile]: File not found or it is a directory (%s).\n", path);
            return NotFound;
        }
    } else {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: Failed to delete the file (%s).\n", path);
    }
    // Scheduled while the handle still holds the confirmed file in place.
    return ScheduleDeletion(path, context) ? DoneAtReboot : Failed;
}

int32_t FileExist(const char* path) {
    UniqueFile file(fopen(path, "r"));
    const bool exists = static_cast<bool>(file);
    file.reset();
    if (exists) {
        TRACE(TraceDetail, "[QRTK - FileExist]: File %s exists.\n", path);
        return 1;
    }
    TRACE(TraceDetail, "[QRTK - FileExist]: File %s does not exist.\n", path);
    return 0;
}

int32_t ReplaceFile(const char* prefix, const char* sourceName, const char* destinationName, int32_t context) {
    char source[ReplacePathSize];
    if (!MakePath(source, prefix, sourceName)) {
        ReportError(3, destinationName == nullptr ? 23 : 22, 0, 0, context);
        return Failed;
    }
    if (destinationName == nullptr) return DeleteOperation(source, context);

    char destination[ReplacePathSize];
    if (!MakePath(destination, prefix, destinationName)) {
        ReportError(3, 22, 0, 0, context);
        return Failed;
    }
    return RenameOperation(source, destination, context);
}

void ApplyResultRule(int result) {
    switch (result) {
    case DoneAtReboot:
        AddRebootNeeded();
        break;
    case FailedDestinationRemoved:
    case Failed:
        AddError();
        break;
    default:
        break;
    }
}
