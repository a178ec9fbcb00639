#include "base/wide_files.h"

#include <climits>
#include <cstdlib>
#include <cwchar>

#include <winternl.h>

#include "base/guards.h"
#include "base/optional_functions.h"
#include "base/path_forms.h"
#include "base/platform.h"

namespace {

int ClampToInt(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

// A path for the 9x family's A functions: its ANSI bytes, or false with the
// reason as the last error.
bool PathToAnsi(const wchar_t* path, char (&ansi)[MAX_PATH]) {
    if (WideToAnsi(path, ansi, sizeof ansi)) return true;
    SetLastError(GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME);
    return false;
}

// A path's literal form (ToLiteralPath) for the W file functions, so that a
// last part such as NUL or COM1, or trailing dots and spaces, cannot turn
// the call to a device or to another file. get() is null, with the last
// error set, where no memory was left for it.
class LiteralPath {
public:
    explicit LiteralPath(const wchar_t* path) {
        const size_t size = wcslen(path) + sizeof "\\\\?\\UNC\\";
        buffer_.reset(malloc(size * sizeof(wchar_t)));
        if (!buffer_ || !ToLiteralPath(path, static_cast<wchar_t*>(buffer_.get()), size)) {
            buffer_.reset();
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    wchar_t* get() const { return static_cast<wchar_t*>(buffer_.get()); }

private:
    UniqueMemory buffer_;
};

}  // namespace

bool AnsiToWide(const char* text, wchar_t* wide, size_t size) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, ClampToInt(size)) != 0;
}

bool WideToAnsi(const wchar_t* wide, char* text, size_t size) {
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, text, ClampToInt(size), nullptr, nullptr) == 0) return false;
    // A character that the code page lacks comes out as "?" or a look-alike,
    // which reads back as another character.
    const size_t length = wcslen(wide) + 1;
    UniqueMemory back(malloc(length * sizeof(wchar_t)));
    if (!back) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    auto* backText = static_cast<wchar_t*>(back.get());
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, backText, ClampToInt(length)) == 0 ||
        wcscmp(backText, wide) != 0) {
        if (size > 0) text[0] = '\0';
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    return true;
}

bool WideToAnsiAsSystem(const wchar_t* wide, char* text, size_t size) {
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, text, ClampToInt(size), nullptr, nullptr) != 0;
}

size_t EncodeAnsi(uint32_t codePoint, char* bytes, size_t size, void* /*context*/) {
    if (size == 0) return 0;
    // Every ANSI code page holds ASCII as itself: no call for most paths.
    if (codePoint < 0x80) {
        bytes[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint > 0x10FFFF) return 0;
    wchar_t units[2];
    int count = 1;
    if (codePoint >= 0x10000) {
        units[0] = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<wchar_t>(codePoint);
    }
    const int written = WideCharToMultiByte(CP_ACP, 0, units, count, bytes, ClampToInt(size), nullptr, nullptr);
    if (written <= 0) return 0;
    wchar_t back[4];
    const int read = MultiByteToWideChar(CP_ACP, 0, bytes, written, back, 4);
    if (read != count || back[0] != units[0] || (count == 2 && back[1] != units[1])) return 0;
    return static_cast<size_t>(written);
}

bool PathForAnsiCalls(const wchar_t* path, char* ansi, size_t size) {
    if (WideToAnsi(path, ansi, size)) return true;
    wchar_t shortPath[MAX_PATH];
    const DWORD length = WideGetShortPathName(path, shortPath, MAX_PATH);
    if (length != 0 && length < MAX_PATH && WideToAnsi(shortPath, ansi, size)) return true;
    if (size > 0) ansi[0] = '\0';
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
}

DisplayedPath ShowPath(const wchar_t* path) {
    DisplayedPath shown{};
    // A name that can be typed where the path's own cannot be shown.
    if (PathForAnsiCalls(path, shown.text, sizeof shown.text)) return shown;
    FormatDisplayPath(path, EncodeAnsi, nullptr, shown.text, sizeof shown.text);
    return shown;
}

HANDLE WideCreateFile(const wchar_t* path, DWORD access, DWORD sharing, SECURITY_ATTRIBUTES* security,
                      DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (IsWindowsNT()) {
        const LiteralPath literal(path);
        if (literal.get() == nullptr) return INVALID_HANDLE_VALUE;
        return CreateFileW(literal.get(), access, sharing, security, disposition, flagsAndAttributes, templateFile);
    }
    char ansi[MAX_PATH];
    if (!PathToAnsi(path, ansi)) return INVALID_HANDLE_VALUE;
    return CreateFileA(ansi, access, sharing, security, disposition, flagsAndAttributes, templateFile);
}

DWORD WideGetFileAttributes(const wchar_t* path) {
    if (IsWindowsNT()) {
        const LiteralPath literal(path);
        return literal.get() != nullptr ? GetFileAttributesW(literal.get()) : INVALID_FILE_ATTRIBUTES;
    }
    char ansi[MAX_PATH];
    if (!PathToAnsi(path, ansi)) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesA(ansi);
}

BOOL WideSetFileAttributes(const wchar_t* path, DWORD attributes) {
    if (IsWindowsNT()) {
        const LiteralPath literal(path);
        return literal.get() != nullptr && SetFileAttributesW(literal.get(), attributes);
    }
    char ansi[MAX_PATH];
    if (!PathToAnsi(path, ansi)) return FALSE;
    return SetFileAttributesA(ansi, attributes);
}

BOOL WideDeleteFile(const wchar_t* path) {
    if (IsWindowsNT()) {
        const LiteralPath literal(path);
        return literal.get() != nullptr && DeleteFileW(literal.get());
    }
    char ansi[MAX_PATH];
    if (!PathToAnsi(path, ansi)) return FALSE;
    return DeleteFileA(ansi);
}

BOOL WideMoveFileEx(const wchar_t* existingPath, const wchar_t* newPath, DWORD flags) {
    if (IsWindowsNT()) {
        const LiteralPath existing(existingPath);
        if (existing.get() == nullptr) return FALSE;
        if (newPath == nullptr) return MoveFileExW(existing.get(), nullptr, flags);
        const LiteralPath renamed(newPath);
        return renamed.get() != nullptr && MoveFileExW(existing.get(), renamed.get(), flags);
    }
    char existing[MAX_PATH];
    char renamed[MAX_PATH];
    if (!PathToAnsi(existingPath, existing) || (newPath != nullptr && !PathToAnsi(newPath, renamed))) return FALSE;
    return MoveFileExA(existing, newPath != nullptr ? renamed : nullptr, flags);
}

DWORD WideGetShortPathName(const wchar_t* path, wchar_t* shortPath, DWORD size) {
    if (IsWindowsNT()) return GetShortPathNameW(path, shortPath, size);
    char ansi[MAX_PATH];
    char shortAnsi[MAX_PATH];
    if (!PathToAnsi(path, ansi)) return 0;
    const DWORD length = GetShortPathNameA(ansi, shortAnsi, sizeof shortAnsi);
    if (length == 0) return 0;
    if (length >= sizeof shortAnsi) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // The size in characters with the terminator.
    const int needed = MultiByteToWideChar(CP_ACP, 0, shortAnsi, -1, nullptr, 0);
    if (needed <= 0) return 0;
    if (size < static_cast<DWORD>(needed)) return static_cast<DWORD>(needed);
    if (MultiByteToWideChar(CP_ACP, 0, shortAnsi, -1, shortPath, ClampToInt(size)) == 0) return 0;
    return static_cast<DWORD>(needed - 1);
}

DWORD FamilySharing() { return FILE_SHARE_READ | FILE_SHARE_WRITE | (IsWindowsNT() ? FILE_SHARE_DELETE : 0); }

UniqueFileHandle OpenShared(const wchar_t* path, DWORD access) {
    return UniqueFileHandle(WideCreateFile(path, access, FamilySharing(), nullptr, OPEN_EXISTING, 0, nullptr));
}

UniqueFileHandle OpenShared(const char* path, DWORD access) {
    return UniqueFileHandle(CreateFileA(path, access, FamilySharing(), nullptr, OPEN_EXISTING, 0, nullptr));
}

UniqueFileHandle OpenForReading(const wchar_t* path) {
    const NtdllFunctions& ntdll = NtdllOptional();
    if (!IsWindowsNT() || ntdll.ntCreateFile == nullptr || ntdll.rtlNtStatusToDosError == nullptr) {
        return OpenShared(path, GENERIC_READ);
    }
    const LiteralPath literal(path);
    if (literal.get() == nullptr) return UniqueFileHandle();
    const size_t length = wcslen(literal.get());
    // Only a literal form has an NT name of its own (\\?\X is \??\X); other
    // forms are left to the Win32 rules.
    const wchar_t* const form = literal.get();
    if (length < 4 || form[0] != L'\\' || form[1] != L'\\' || form[2] != L'?' || form[3] != L'\\') {
        return OpenShared(path, GENERIC_READ);
    }
    if (length * sizeof(wchar_t) > 0xFFFE) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return UniqueFileHandle();
    }
    wchar_t* const name = literal.get();
    name[1] = L'?';
    UNICODE_STRING ntName{static_cast<USHORT>(length * sizeof(wchar_t)), static_cast<USHORT>(length * sizeof(wchar_t)),
                          name};
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &ntName;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    constexpr ULONG Open = 1;                  // FILE_OPEN
    constexpr ULONG SynchronousIo = 0x20;      // FILE_SYNCHRONOUS_IO_NONALERT
    constexpr ULONG NonDirectory = 0x40;       // FILE_NON_DIRECTORY_FILE
    constexpr ULONG CompleteIfOplocked = 0x100;  // FILE_COMPLETE_IF_OPLOCKED
    constexpr LONG OplockBreakInProgress = 0x108;
    constexpr DWORD OplockBreakInProgressError = 742;  // ERROR_OPLOCK_BREAK_IN_PROGRESS
    HANDLE opened = nullptr;
    FileIoStatus io{};
    const LONG status = ntdll.ntCreateFile(&opened, FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes,
                                           &io, nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           Open, SynchronousIo | NonDirectory | CompleteIfOplocked, nullptr, 0);
    if (status < 0) {
        SetLastError(ntdll.rtlNtStatusToDosError(status));
        return UniqueFileHandle();
    }
    UniqueFileHandle file(opened);
    // Reading now would wait for the holder of the oplock to let go.
    if (status == OplockBreakInProgress) {
        file.reset();
        SetLastError(OplockBreakInProgressError);
    }
    return file;
}
