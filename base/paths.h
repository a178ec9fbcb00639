// Joining directories and file names in fixed path buffers. A path that does
// not fit is refused whole: a cut path could name another file.
#pragma once
#include <cstddef>
#include <cstdint>

// Makes a directory that the platform reported ready for a file name: appends
// "\" when it is longer than 3 characters (a drive root such as C:\ already
// ends in one). False, with the directory unchanged, when the buffer of `size`
// bytes has no room for it.
bool AppendDirectorySeparator(char* directory, size_t size);

// first and second, concatenated into path (size bytes with the terminator).
// False, with path empty, when they do not fit.
bool JoinPath(char* path, size_t size, const char* first, const char* second);
