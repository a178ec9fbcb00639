// The read-only attribute cleared before a deletion. A read-only file
// refuses its deletion now and at the restart alike (the restart then leaves
// it where it is): a worm's file would outlast its removal through the
// attribute.
#pragma once
#include <windows.h>

#include "base/file_identity.h"

// By name; the trace shows the path.
void ClearReadOnly(const char* path);
// Through a handle with the right to write attributes, on the NT family;
// identity read through it. The trace shows the path as shown.
void ClearReadOnly(HANDLE file, const FileIdentity& identity, const char* shown);
