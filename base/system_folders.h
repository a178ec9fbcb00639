// The folders of the system, each read with its length checked: a path cut
// to fit a buffer could name another folder.
#pragma once
#include <windows.h>

#include <cstddef>

// Each writes the folder into folder (size bytes with the terminator), as the
// platform reports it (no final "\" unless it is a drive root), and answers
// true; or answers false with folder empty and the reason as the last error:
// ERROR_FILENAME_EXCED_RANGE when it does not fit, ERROR_PATH_NOT_FOUND when
// the platform gives none.
bool WindowsFolder(char* folder, size_t size);
bool SystemFolder(char* folder, size_t size);
// The NT family's own names of the folders, in UTF-16 (the 9x family has
// the W functions only as stubs that fail).
bool SystemFolder(wchar_t* folder, size_t size);
// The shared Windows folder, which \SystemRoot names: on a terminal server
// GetWindowsDirectory may answer a user's own one. GetSystemWindowsDirectory
// came with NT 4.0 Terminal Server; elsewhere the two are the same.
bool SharedWindowsFolder(char* folder, size_t size);
bool SharedWindowsFolder(wchar_t* folder, size_t size);
// The 32-bit system folder of 64-bit Windows (SysWOW64). Where there is none
// (32-bit Windows, and systems older than XP, which lack the function) the
// reason is any other than ERROR_FILENAME_EXCED_RANGE.
bool Wow64SystemFolder(char* folder, size_t size);
bool Wow64SystemFolder(wchar_t* folder, size_t size);
