// Which paths the restart may be given by name: those of files directly in a
// folder that only administrators can change. Text work only, on ANSI or
// UTF-16 paths.
#pragma once
#include <cstddef>

// Where the file name begins when path names an entry directly in folder (a
// folder as the platform reports it, with or without its final "\"; letter
// case aside), else 0. A name with a separator of either kind, or "." or
// "..", is not an entry directly in the folder.
size_t NameInFolder(const char* path, const char* folder);
size_t NameInFolder(const wchar_t* path, const wchar_t* folder);
