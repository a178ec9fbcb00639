#include "fileops/replace_file.h"

#include <cerrno>
#include <cstdio>

#include "base/paths.h"
#include "fileops/file_target.h"
#include "fileops/read_only.h"
#include "fileops/reboot_schedule.h"
#include "fileops/replace_file_tag.h"
#include "fileops/restart_handover.h"
#include "trace/trace.h"

namespace {

// Prefix and name joined without a separator; a path that does not fit is
// refused whole, so that no other file is ever touched.
bool MakePath(char (&path)[ReplacePathSize], const char* prefix, const char* name) {
    if (JoinPath(path, sizeof path, prefix, name)) return true;
    TRACE(TraceFailure, REPLACE_FILE_TAG "Path is too long (%s%s).\n", prefix, name);
    return false;
}

ReplaceFileResult DeleteOperation(const char* source, int32_t context) {
    TRACE(TraceDetail, REPLACE_FILE_TAG "Delete operation (%s).\n", source);
    const ReplaceFileResult checked =
        CheckSource(ExistenceOf(source), source, ErrorReportCode::DeletionFailed, context);
    return checked == ReplaceFileResult::Done ? DeleteExistingFile(source, context) : checked;
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
                if (!HandDeletionToRestart(destination, context)) return ReplaceFileResult::Failed;
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

}  // namespace

ReplaceFileResult CheckSource(FileExistence existence, const char* shown, ErrorReportCode code, int32_t context) {
    switch (existence) {
    case FileExistence::Present:
        TRACE(TraceDetail, REPLACE_FILE_TAG "Src file exists (%s).\n", shown);
        return ReplaceFileResult::Done;
    case FileExistence::Absent:
        TRACE(TraceFailure, REPLACE_FILE_TAG "Src file does not exist (%s).\n", shown);
        return ReplaceFileResult::NotFound;
    default:
        TRACE(TraceFailure, REPLACE_FILE_TAG "Src file cannot be checked (%s).\n", shown);
        ReportError(code, context);
        return ReplaceFileResult::Failed;
    }
}

ReplaceFileResult DeleteExistingFile(const char* path, int32_t context) {
    ClearReadOnly(path);
    if (remove(path) == 0) {
        TRACE(TraceDetail, REPLACE_FILE_TAG "File was deleted (%s).\n", path);
        return ReplaceFileResult::Done;
    }
    const int error = errno;  // before tracing can change it
    TRACE(TraceFailure, REPLACE_FILE_TAG "Failed to delete the file (%s).\n", path);
    if (error == ENOENT) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File not found or it is a directory (%s).\n", path);
        return ReplaceFileResult::NotFound;
    }
    if (error != EACCES) {
        TRACE(TraceFailure, REPLACE_FILE_TAG "File cannot be deleted, error %d (%s).\n", error, path);
        ReportError(ErrorReportCode::DeletionFailed, context);
        return ReplaceFileResult::Failed;
    }
    // In use or protected: the restart may succeed where this failed.
    return HandDeletionToRestart(path, context) ? ReplaceFileResult::DoneAtReboot : ReplaceFileResult::Failed;
}

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
