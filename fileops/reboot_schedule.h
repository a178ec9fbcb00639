// Scheduling of a delete or rename for the next restart.
#pragma once
#include <cstdint>

// newPath null asks for deletion. Nonzero when scheduled.
int32_t AddFileToAutomaticRenameList(const char* existingPath, const char* newPath);
