#include "fileops/restart_paths.h"

namespace {

// Letter case aside for ASCII only: the system's folders are named in it,
// and a path that differs elsewhere names another folder at worst.
template <typename Char>
Char AsciiLower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
size_t Length(const Char* text) {
    size_t length = 0;
    while (text[length] != Char(0)) ++length;
    return length;
}

template <typename Char>
bool SameText(const Char* a, const Char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

template <typename Char>
bool IsOwnName(const Char* name) {
    for (const Char* c = name; *c != Char(0); ++c) {
        if (*c == Char('\\') || *c == Char('/')) return false;
    }
    const bool dot = name[0] == Char('.');
    return !(dot && (name[1] == Char(0) || (name[1] == Char('.') && name[2] == Char(0))));
}

template <typename Char>
size_t NameIn(const Char* path, const Char* folder) {
    size_t folderLength = Length(folder);
    if (folderLength == 0) return 0;
    // The separator after the folder is the path's own.
    if (folder[folderLength - 1] == Char('\\')) --folderLength;
    if (Length(path) <= folderLength + 1 || !SameText(path, folder, folderLength) ||
        path[folderLength] != Char('\\')) {
        return 0;
    }
    return IsOwnName(path + folderLength + 1) ? folderLength + 1 : 0;
}

}  // namespace

size_t NameInFolder(const char* path, const char* folder) { return NameIn(path, folder); }

size_t NameInFolder(const wchar_t* path, const wchar_t* folder) { return NameIn(path, folder); }
