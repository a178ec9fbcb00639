#include "base/path_forms.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"

namespace {

uint32_t Unit(wchar_t c) { return static_cast<uint32_t>(c); }

// 1 when text begins with the ASCII prefix, letters compared without case.
bool StartsWith(const wchar_t* text, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (text[i] == L'\0' || AsciiUpper(Unit(text[i])) != AsciiUpper(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

// A drive letter, a colon and a backslash: C:\.
bool IsDrivePath(const wchar_t* text) {
    const uint32_t letter = AsciiUpper(Unit(text[0]));
    return letter >= 'A' && letter <= 'Z' && text[1] == L':' && text[2] == L'\\';
}

// Builds a path piece by piece in a fixed buffer; a path that does not fit
// is refused whole, as a cut one could name another file.
class PathWriter {
public:
    PathWriter(wchar_t* out, size_t size) : out_(out), size_(size) {
        if (size_ > 0) out_[0] = L'\0';
    }
    void Put(wchar_t c) {
        if (used_ + 1 < size_) {
            out_[used_] = c;
        } else {
            overflow_ = true;
        }
        ++used_;
    }
    void PutAscii(const char* text) {
        for (; *text != '\0'; ++text) Put(static_cast<wchar_t>(*text));
    }
    void PutWide(const wchar_t* text) {
        for (; *text != L'\0'; ++text) Put(*text);
    }
    bool EndsWith(wchar_t c) const { return used_ > 0 && !overflow_ && out_[used_ - 1] == c; }
    // The path written, or TooLong with the buffer emptied.
    Win32PathResult Finish(Win32PathResult result) {
        if (overflow_ || size_ == 0) return Refuse(Win32PathResult::TooLong);
        out_[used_] = L'\0';
        return result;
    }
    Win32PathResult Refuse(Win32PathResult reason) {
        if (size_ > 0) out_[0] = L'\0';
        return reason;
    }

private:
    wchar_t* out_;
    size_t size_;
    size_t used_ = 0;
    bool overflow_ = false;
};

// A share's server name: not empty, and not "." or "?", which would turn
// the share into a device or namespace path.
bool IsServerName(const wchar_t* text) {
    if (*text == L'\0' || *text == L'\\') return false;
    return !((text[0] == L'.' || text[0] == L'?') && (text[1] == L'\0' || text[1] == L'\\'));
}

// What follows \??\ or \\?\: a drive path stays as it is, UNC\ becomes the
// two backslashes of a share; anything else keeps (or gets) the Win32
// namespace prefix.
Win32PathResult WriteNamespaceRest(PathWriter& writer, const wchar_t* rest, bool win32Prefix) {
    if (IsDrivePath(rest)) {
        writer.PutWide(rest);
    } else if (StartsWith(rest, "UNC\\")) {
        if (!IsServerName(rest + 4)) return writer.Refuse(Win32PathResult::NotAFilePath);
        writer.PutAscii("\\\\");
        writer.PutWide(rest + 4);
    } else if (*rest == L'\0') {
        return writer.Refuse(Win32PathResult::NotAFilePath);
    } else {
        writer.PutAscii("\\\\?\\");
        writer.PutWide(rest);
        return writer.Finish(win32Prefix ? Win32PathResult::Unchanged : Win32PathResult::Converted);
    }
    return writer.Finish(Win32PathResult::Converted);
}

}  // namespace

Win32PathResult ToWin32Path(const wchar_t* reported, const wchar_t* windowsDirectory, wchar_t* win32Path,
                            size_t size) {
    const wchar_t* const path = reported;
    PathWriter writer(win32Path, size);
    if (StartsWith(path, "\\??\\")) return WriteNamespaceRest(writer, path + 4, false);
    if (StartsWith(path, "\\\\?\\")) return WriteNamespaceRest(writer, path + 4, true);
    if (StartsWith(path, "\\SystemRoot\\")) {
        if (windowsDirectory == nullptr || *windowsDirectory == L'\0') {
            return writer.Refuse(Win32PathResult::NoWindowsDirectory);
        }
        writer.PutWide(windowsDirectory);
        if (!writer.EndsWith(L'\\')) writer.Put(L'\\');
        writer.PutWide(path + 12);
        return writer.Finish(Win32PathResult::Converted);
    }
    if (path[0] == L'\\' && path[1] != L'\\') return writer.Refuse(Win32PathResult::NotAFilePath);
    writer.PutWide(path);
    return writer.Finish(Win32PathResult::Unchanged);
}

PathPlace PlaceOfPath(const wchar_t* path) {
    const wchar_t* rest = path;
    if (StartsWith(path, "\\\\?\\")) {
        rest = path + 4;
        if (StartsWith(rest, "UNC\\")) return PathPlace::Share;
    } else if (path[0] == L'\\' && path[1] == L'\\') {
        // \\.\X and \\?\X are namespaces of this machine; any other name is a server's.
        return IsServerName(path + 2) ? PathPlace::Share : PathPlace::Other;
    }
    return IsDrivePath(rest) ? PathPlace::Drive : PathPlace::Other;
}

wchar_t DriveLetterOf(const wchar_t* path) {
    if (PlaceOfPath(path) != PathPlace::Drive) return L'\0';
    const wchar_t letter = StartsWith(path, "\\\\?\\") ? path[4] : path[0];
    return static_cast<wchar_t>(AsciiUpper(Unit(letter)));
}

bool DrivePathOnDevice(const wchar_t* name, const wchar_t* device, wchar_t letter, wchar_t* out, size_t size) {
    size_t length = 0;
    for (; device[length] != L'\0'; ++length) {
        if (name[length] == L'\0' || AsciiUpper(Unit(name[length])) != AsciiUpper(Unit(device[length]))) return false;
    }
    if (length == 0 || name[length] != L'\\') return false;
    PathWriter writer(out, size);
    writer.Put(letter);
    writer.Put(L':');
    writer.PutWide(name + length);
    return writer.Finish(Win32PathResult::Converted) == Win32PathResult::Converted;
}

namespace {

// Whether the part of a path from text on resolves the same way with and
// without the Win32 rules but for the names of its parts: no "/", no empty,
// "." or ".." part.
bool HasOnlyNamedParts(const wchar_t* text) {
    size_t partLength = 0;
    bool dotsOnly = true;
    for (const wchar_t* at = text;; ++at) {
        if (*at == L'\\' || *at == L'\0') {
            if (partLength == 0 && *at == L'\\') return false;
            if (partLength > 0 && partLength <= 2 && dotsOnly) return false;
            if (*at == L'\0') return true;
            partLength = 0;
            dotsOnly = true;
            continue;
        }
        if (*at == L'/') return false;
        dotsOnly = dotsOnly && *at == L'.';
        ++partLength;
    }
}

}  // namespace

bool ToLiteralPath(const wchar_t* path, wchar_t* out, size_t size) {
    PathWriter writer(out, size);
    const PathPlace place = StartsWith(path, "\\\\?\\") ? PathPlace::Other : PlaceOfPath(path);
    if (place == PathPlace::Drive && HasOnlyNamedParts(path + 3)) {
        writer.PutAscii("\\\\?\\");
        writer.PutWide(path);
    } else if (place == PathPlace::Share && HasOnlyNamedParts(path + 2)) {
        writer.PutAscii("\\\\?\\UNC\\");
        writer.PutWide(path + 2);
    } else {
        writer.PutWide(path);
    }
    return writer.Finish(Win32PathResult::Unchanged) == Win32PathResult::Unchanged;
}

const char* Win32PathRefusal(Win32PathResult result) {
    switch (result) {
        case Win32PathResult::Unchanged:
        case Win32PathResult::Converted:
            return nullptr;
        case Win32PathResult::NotAFilePath:
            return "it names an object of the system, not a file on a drive or a share";
        case Win32PathResult::NoWindowsDirectory:
            return "the Windows directory that it names is unknown";
        case Win32PathResult::TooLong:
            return "it is too long";
    }
    return "unknown reason";
}

size_t FormatDisplayPath(const wchar_t* path, AnsiEncoder encode, void* context, char* out, size_t size) {
    size_t length = 0;
    size_t written = 0;
    bool full = false;
    for (size_t i = 0; path[i] != L'\0'; ++i) {
        uint32_t codePoint = Unit(path[i]);
        const uint32_t next = Unit(path[i + 1]);
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        char piece[16];
        size_t pieceLength = encode(codePoint, piece, sizeof piece, context);
        if (pieceLength == 0 || pieceLength > sizeof piece) {
            const int printed = snprintf(piece, sizeof piece, "<U+%04X>", static_cast<unsigned>(codePoint));
            pieceLength = printed > 0 ? static_cast<size_t>(printed) : 0;
        }
        // Once a piece does not fit, nothing after it is written either.
        if (!full && written + pieceLength < size) {
            memcpy(out + written, piece, pieceLength);
            written += pieceLength;
        } else {
            full = true;
        }
        length += pieceLength;
    }
    if (size > 0) out[written] = '\0';
    return length;
}
