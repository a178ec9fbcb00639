// Deletion at the restart of a file that lies where users could change the
// path before then: the file is first moved, through its open handle, into a
// folder that only administrators and the system can change.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/file_identity.h"
#include "base/guards.h"
#include "fileops/file_target.h"

// A security descriptor owned by Administrators whose access list grants
// everything to the system and to Administrators, nothing to anyone else,
// and inherits nothing.
struct AdminOnlySecurity {
    SECURITY_DESCRIPTOR descriptor{};
    alignas(DWORD) BYTE acl[128]{};
    UniqueSid system;
    UniqueSid administrators;
};

// Fills security in; false when the system refuses (the 9x family).
bool MakeAdminOnlySecurity(AdminOnlySecurity& security);

// Moves the file open as `file` (a handle with delete access and the rights
// to the file's owner and access list, that shares reading alone, so that no
// other handle may write, delete or move the file; `identity` read through it)
// into a new folder of the program's own on the same volume, under a name of
// the program's choosing, and schedules the deletion of the file and then of
// the folder for the restart. Before the move the file gets the folder's
// owner and access list. Only a local fixed volume that keeps access lists
// takes such a folder. target names the file where it lies now. True when
// the file's deletion is scheduled; false, traced, when not (the file may
// then lie in that folder).
bool MoveOutOfReachForRestart(HANDLE file, const FileIdentity& identity, const FileTarget& target);
