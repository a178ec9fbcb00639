// Paths in UTF-16 on both platform families: conversions to and from the
// ANSI code page, the form in which a path is shown, and the file functions
// for a wide path.
//
// The NT family names files in Unicode, so a program's path may hold
// characters that no ANSI function can pass on; the W functions take them.
// The 9x family has no Unicode file system: its W file functions are stubs,
// and its paths all come from ANSI functions, so there the A function takes
// the path converted back to ANSI, which gives the very bytes it came from.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/guards.h"

// ANSI text (the system's code page) in UTF-16, into wide (size units with
// the terminator). False, with the system's last error, when it does not fit.
bool AnsiToWide(const char* text, wchar_t* wide, size_t size);

// UTF-16 text in ANSI, only where the code page holds every character
// exactly (not a look-alike). False otherwise, with ERROR_NO_UNICODE_TRANSLATION
// for a character that it lacks and ERROR_INSUFFICIENT_BUFFER when the text
// does not fit (size bytes with the terminator).
bool WideToAnsi(const wchar_t* wide, char* text, size_t size);

// UTF-16 text in ANSI as the system's ANSI functions hand it out: a
// character that the code page lacks becomes a look-alike or "?". False, with
// ERROR_INSUFFICIENT_BUFFER, when it does not fit.
bool WideToAnsiAsSystem(const wchar_t* wide, char* text, size_t size);

// The ANSI bytes of one code point, for FormatDisplayPath (path_forms.h):
// their count, or 0 when the code page does not give that very character
// back from them.
size_t EncodeAnsi(uint32_t codePoint, char* bytes, size_t size, void* context);

// A name of the file that the ANSI file functions take: the path itself
// where the code page holds all its characters, else the file's short
// (8.3) path where its volume has one and the code page holds that. False, with
// ERROR_NO_UNICODE_TRANSLATION, when there is neither.
bool PathForAnsiCalls(const wchar_t* path, char* ansi, size_t size);

// A path as the console and the trace show it: as the ANSI functions give
// it where the code page holds its characters; else its short path, which
// an administrator can type (PathForAnsiCalls); else with the characters
// the code page lacks written as <U+XXXX> (FormatDisplayPath). Holds the whole form of any path of up to MAX_PATH
// characters; a longer form is cut between whole characters.
constexpr size_t DisplayedPathSize = 4096;
struct DisplayedPath {
    char text[DisplayedPathSize];
};
DisplayedPath ShowPath(const wchar_t* path);

// Whether a failed open says the file is not there: only "file not found"
// and "path not found" do; any other error leaves the question open.
inline bool IsAbsence(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The file functions for a wide path: on the NT family the W function, on
// the 9x family the A function with the path in ANSI (a path that the code
// page cannot hold fails with ERROR_INVALID_NAME, and one too long for the
// A function with ERROR_FILENAME_EXCED_RANGE, without a call). Arguments,
// results and last errors are those of the function they stand for.
HANDLE WideCreateFile(const wchar_t* path, DWORD access, DWORD sharing, SECURITY_ATTRIBUTES* security,
                      DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
DWORD WideGetFileAttributes(const wchar_t* path);
BOOL WideSetFileAttributes(const wchar_t* path, DWORD attributes);
BOOL WideDeleteFile(const wchar_t* path);
// newPath may be null (a deletion, with MOVEFILE_DELAY_UNTIL_REBOOT).
BOOL WideMoveFileEx(const wchar_t* existingPath, const wchar_t* newPath, DWORD flags);
// The length in characters of the short path written to shortPath, or,
// when it does not fit size characters with the terminator, the size it
// needs; 0 on failure.
DWORD WideGetShortPathName(const wchar_t* path, wchar_t* shortPath, DWORD size);

// An existing file opened with every sharing the family knows: whoever holds
// the file, writing to it or not (the worm itself, say), must not keep it
// from being opened. The 9x family refuses the delete-sharing flag.
DWORD FamilySharing();
UniqueFileHandle OpenShared(const wchar_t* path, DWORD access);
UniqueFileHandle OpenShared(const char* path, DWORD access);

// An existing file opened to read its content (FILE_READ_DATA and
// FILE_READ_ATTRIBUTES, every sharing) so that nothing on the way redirects
// or stalls the open: on the NT family by the path's literal form, and
// without waiting for another program's oplock on the file to break (that
// open fails with ERROR_OPLOCK_BREAK_IN_PROGRESS). A folder fails with
// ERROR_ACCESS_DENIED, as CreateFile fails for one. The 9x family, which
// knows neither, opens it as OpenShared does.
UniqueFileHandle OpenForReading(const wchar_t* path);
