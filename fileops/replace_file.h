// Deleting or renaming a file now, or at the next restart when it is in use.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/file_identity.h"
// <windows.h> maps ReplaceFile to the platform's ReplaceFileA; this module
// owns the name.
#undef ReplaceFile

// The operation the trace lines of the deletion, the renaming and the move
// aside for the restart are written under.
#define REPLACE_FILE_TAG "[QRTK - ReplaceFile]: "

enum class ReplaceFileResult : int32_t {
    NotFound = 0,
    Done = 1,
    DoneAtReboot = 2,
    FailedDestinationRemoved = 3,
    Failed = 4,
};

// What FileExist found: only "file not found" and "path not found" make a
// file absent; any other failure leaves the question open.
enum class FileExistence : int32_t {
    Absent = 0,
    Present = 1,
    Unchecked = 2,
};

FileExistence ExistenceOf(const char* path);
// The same answer as a number, 0 to 2.
int32_t FileExist(const char* path);
ReplaceFileResult ReplaceFile(const char* prefix, const char* sourceName, const char* destinationName, int32_t context);

// Confirms, through a handle open for reading, that a file is still what it
// was recognised as.
using ContentCheck = bool (*)(HANDLE file);

// The delete operation of ReplaceFile for a file that was recognised: the
// path is opened again (not through a reparse point), and only the file of
// the recognised identity, still passing the check, is deleted (through the
// handle on the NT family) or scheduled for the restart. Any other file is
// not touched: Failed, with a trace line. On the NT family a path with a
// reparse point among its folders is refused the same way, and the restart
// is given only paths that no user can change: a file directly in a system
// folder by its whole name, any other moved first through the handle into a
// folder of the program's own (MoveOutOfReachForRestart); a file that cannot
// be moved (another program may write to it or delete it, or its volume is
// no local fixed disk that keeps access lists) is not scheduled at all:
// Failed. The recognising handle is kept open until the identities have been
// compared, then closed.
ReplaceFileResult DeleteRecognisedFile(const char* path, RecognisedFile& recognised, ContentCheck stillRecognised,
                                       int32_t context);
// The NT family takes every path whole, in UTF-16 (an ANSI path is widened
// first); the 9x family, which has no Unicode file system, its ANSI form.
// Trace lines show the path as ShowPath (base/wide_files.h) writes it.
ReplaceFileResult DeleteRecognisedFile(const wchar_t* path, RecognisedFile& recognised, ContentCheck stillRecognised,
                                       int32_t context);

// Accounts for one ReplaceFile result in the run's outcome values: a restart
// adds to the reboot count, a failure to the error count.
void ApplyResultRule(ReplaceFileResult result);
