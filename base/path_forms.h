// Program paths as the system hands them out and as people read them: the
// path forms of the NT object namespace turned into Win32 paths, and the
// form in which a UTF-16 path is shown on the console and in the trace log.
// No platform dependencies: the code page is asked through a callback.
//
// Paths are UTF-16 code units held in wchar_t (16 bits on Windows; wider
// elsewhere, where each element still holds one code unit).
#pragma once
#include <cstddef>
#include <cstdint>

// What became of a path handed to ToWin32Path.
enum class Win32PathResult : int32_t {
    Unchanged,           // already a Win32 path: copied as it is
    Converted,           // an NT form turned into the Win32 path of the same file
    NotAFilePath,        // names an object of the system (\Device\...), not a drive or a share
    NoWindowsDirectory,  // \SystemRoot\... while the Windows directory is unknown
    TooLong,             // the Win32 path does not fit the buffer
};

// Turns the path of a program file, as the NT family reports it, into a
// Win32 path that the file functions accept:
//   \SystemRoot\X            -> windowsDirectory\X
//   \??\C:\X and \\?\C:\X    -> C:\X
//   \??\UNC\srv\share\X and \\?\UNC\srv\share\X -> \\srv\share\X
//   \??\X (any other)        -> \\?\X, the same object in the Win32 namespace
// Any other path beginning with a single backslash names an object of the
// system that no drive letter reaches (NotAFilePath); every other path is
// copied unchanged. The prefixes are compared without regard to case, as
// the system compares them. win32Path (size units with the terminator) must
// not overlap reported; it holds an empty string unless the result is
// Unchanged or Converted.
Win32PathResult ToWin32Path(const wchar_t* reported, const wchar_t* windowsDirectory, wchar_t* win32Path,
                            size_t size);

// Why a path was not turned into a Win32 path, for the trace; nullptr for
// Unchanged and Converted.
const char* Win32PathRefusal(Win32PathResult result);

// Where a Win32 path leads, by its form alone.
enum class PathPlace : int32_t {
    Drive,  // C:\X or \\?\C:\X: a drive letter, whose kind (local, removable, network) only the system knows
    Share,  // \\server\share\X or \\?\UNC\server\share\X: a file on another machine
    Other,  // a device, a volume or object namespace path, a relative path
};
PathPlace PlaceOfPath(const wchar_t* path);
// The drive letter of a drive path (C:\X, \\?\C:\X), in upper case; 0 for
// any other path.
wchar_t DriveLetterOf(const wchar_t* path);

// A file that the system names under a device (\Device\HarddiskVolume1\X)
// as a path on the drive whose letter stands for that device (letter:\X).
// Device names are compared without case, as the system compares them.
// False where the name does not lie below the device, or the path does not
// fit out (size units with the terminator).
bool DrivePathOnDevice(const wchar_t* name, const wchar_t* device, wchar_t letter, wchar_t* out, size_t size);

// The form of a full drive or share path that no Win32 name rule rewrites:
// \\?\C:\X, \\?\UNC\srv\share\X. In it a last part such as NUL, COM1 or
// CON.EXE, and trailing dots and spaces, name the file itself, not a device
// or another file. A path already in that form is copied. Any other path,
// and one that holds "/", an empty part or a "." or ".." part (which only
// the Win32 rules resolve), is copied unchanged. False when the result does
// not fit out (size units with the terminator).
bool ToLiteralPath(const wchar_t* path, wchar_t* out, size_t size);

// How the ANSI code page writes one code point: writes its bytes to bytes
// (room for size of them) and returns their count, or 0 when the code page
// does not hold that very character (no character, or only a look-alike).
using AnsiEncoder = size_t (*)(uint32_t codePoint, char* bytes, size_t size, void* context);

// The form of a path for people: every character that the ANSI code page
// holds as its ANSI bytes (so such a path reads exactly as the ANSI
// functions give it), every other one as <U+XXXX> with its code point in at
// least four upper-case hexadecimal digits (a surrogate pair as one code
// point, a lone surrogate as itself). No file name holds "<" or ">", so the
// form is never taken for a real name. Writes as much as fits into out
// (size bytes, always terminated when size > 0; never part of a character
// or of an escape) and returns the length of the whole form, without the
// terminator, as snprintf does.
size_t FormatDisplayPath(const wchar_t* path, AnsiEncoder encode, void* context, char* out, size_t size);
