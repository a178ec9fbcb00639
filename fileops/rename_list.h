// The real-time scanner's rename-list file PVXK.REN: a 16-byte header and a
// scrambled body of path pairs, in the scanner's own directory.
#pragma once
#include <cstdint>
#include <cstdio>

#include "base/unique_resource.h"
#include "fileops/rename_list_body.h"

enum class RenameListMode : int32_t { Read = 0, Write = 1 };

// 0 on success; -1 key or value unreadable, not a string or not terminated;
// -2 the string and its terminator do not fit into size bytes.
int32_t ReadScannerDirectory(char* buffer, uint32_t size);
// Mode 1 creates a list for writing; mode 0 reads and validates one and hands
// the plain body over through *body, which is empty on failure. Any other
// mode: OpenFailed.
UniqueFile OpenRenameList(RenameListMode mode, UniqueMemory* body, RenameListStatus* status);
// Refuses (IoError, nothing written) an empty path and a pair that would make
// the finished file larger than the scanner reads.
int32_t AddRenamePair(FILE* file, const char* existingPath, const char* newPath, RenameListStatus* status);
// Ends, checksums and scrambles the list, and closes it, also on failure.
int32_t FinishRenameList(UniqueFile list, RenameListStatus* status);
