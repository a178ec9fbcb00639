#include "fileops/replace_file.h"

#include <cerrno>
#include <cstdio>

#include "base/guards.h"
#include "base/outcome.h"
#include "base/paths.h"
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

int32_t DeleteOperation(const char* source, int32_t context) {
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Delete operation (%s).\n", source);
    if (!FileExist(source)) {
        TRACE(TraceFailure, "[QRTK - ReplaceFile]: Src file does not exist (%s).\n", source);
        return NotFound;
    }
    TRACE(TraceDetail, "[QRTK - ReplaceFile]: Src file exists (%s).\n", source);
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

}  // namespace

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
