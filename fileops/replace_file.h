// Deleting or renaming a file by name through the C runtime, now or, when it
// is in use, at the next restart.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/outcome.h"
#include "fileops/file_exist.h"
#include "fileops/replace_result.h"
// <windows.h> maps ReplaceFile to the platform's ReplaceFileA; this module
// owns the name.
#undef ReplaceFile

ReplaceFileResult ReplaceFile(const char* prefix, const char* sourceName, const char* destinationName, int32_t context);

// The steps of the delete operation that the deletion of a recognised file
// (delete_recognised.h) takes as well.

// The traced verdict on a source: Done when it exists, else the result to
// return (a failed check reported with code). shown is the path as the trace
// writes it.
ReplaceFileResult CheckSource(FileExistence existence, const char* shown, ErrorReportCode code, int32_t context);
// Deletion by name of a file known to exist; one in use is handed to the
// restart.
ReplaceFileResult DeleteExistingFile(const char* path, int32_t context);
