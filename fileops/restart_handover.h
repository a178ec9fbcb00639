// Deletions handed to the restart when a file cannot go now, traced under
// the ReplaceFile operation; one that cannot be scheduled either is reported.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/file_identity.h"
#include "fileops/file_target.h"
#include "fileops/replace_result.h"

// The deletion of the file at an ANSI path. False when it is not scheduled.
bool HandDeletionToRestart(const char* path, int32_t context);

// A recognised file that cannot go now, held open through the checks that
// confirmed it.
struct HeldFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    FileIdentity identity;  // read through the handle
    // Whether the handle has the rights to move the file out of users'
    // reach (MoveOutOfReachForRestart), and why not when it has not.
    bool movable = false;
    DWORD moveError = 0;
};

// The NT family: the restart is given only a path that no user can change
// until then. A file directly in a system folder, which only administrators
// can change, is scheduled by its whole name while the handle holds it in
// place; any other is moved first into a folder of the program's own. A
// file that cannot be moved is not scheduled at all: Failed.
ReplaceFileResult DeleteAtRestart(const FileTarget& target, const HeldFile& held, int32_t context);
