#include "fileops/restart_paths.h"

#include <string>

#include "base/ascii_case.h"

namespace {

// A path that differs from a system folder's name in another letter's case
// names another folder at worst.
template <typename Char>
bool SameText(const Char* a, const Char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
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
    size_t folderLength = std::char_traits<Char>::length(folder);
    if (folderLength == 0) return 0;
    // The separator after the folder is the path's own.
    if (folder[folderLength - 1] == Char('\\')) --folderLength;
    if (std::char_traits<Char>::length(path) <= folderLength + 1 || !SameText(path, folder, folderLength) ||
        path[folderLength] != Char('\\')) {
        return 0;
    }
    return IsOwnName(path + folderLength + 1) ? folderLength + 1 : 0;
}

}  // namespace

size_t NameInFolder(const char* path, const char* folder) { return NameIn(path, folder); }

size_t NameInFolder(const wchar_t* path, const wchar_t* folder) { return NameIn(path, folder); }
