// The deletion of a file that was recognised as the worm's: only the file
// recognised goes, never another that its path leads to by now.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/file_identity.h"
#include "fileops/file_target.h"
#include "fileops/replace_result.h"

// Confirms, through a handle open for reading, that a file is still what it
// was recognised as.
using ContentCheck = bool (*)(HANDLE file);

// The delete operation of ReplaceFile for a recognised file: the path is
// opened again (not through a reparse point), and only the file of the
// recognised identity, still passing the check, is deleted (through the
// handle on the NT family) or handed to the restart (DeleteAtRestart). Any
// other file is not touched: Failed, with a trace line. On the NT family a
// path with a reparse point among its folders is refused the same way. The
// recognising handle is kept open until the identities have been compared,
// then closed. The NT family takes the target's whole path; the 9x family,
// which has no Unicode file system, its ANSI form. Trace lines show the
// target as shown.
ReplaceFileResult DeleteRecognisedFile(const FileTarget& target, RecognisedFile& recognised,
                                       ContentCheck stillRecognised, int32_t context);
