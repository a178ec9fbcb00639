// Scheduling of a delete or rename for the next restart.
#pragma once
#include <cstdint>

#include "fileops/file_target.h"

// newPath null asks for deletion. Nonzero when scheduled.
int32_t AddFileToAutomaticRenameList(const char* existingPath, const char* newPath);
// The deletion of a target: the NT family records its whole name, whatever
// the code page holds of it; the 9x family takes its ANSI form, as above.
int32_t AddFileToAutomaticRenameList(const FileTarget& existing);
