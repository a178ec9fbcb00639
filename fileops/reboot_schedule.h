// Scheduling of a delete or rename for the next restart.
#pragma once
#include <cstdint>

// newPath null asks for deletion. Nonzero when scheduled.
int32_t AddFileToAutomaticRenameList(const char* existingPath, const char* newPath);
// The deletion of a file named in UTF-16: the NT family records the whole
// name, whatever the code page holds of it; the 9x family takes its ANSI
// form, as above.
int32_t AddFileToAutomaticRenameList(const wchar_t* existingPath);
