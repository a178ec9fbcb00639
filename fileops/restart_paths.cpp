#include "fileops/restart_paths.h"

#include <cstring>

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

}  // namespace

size_t NameInFolder(const char* path, const char* folder) {
    size_t folderLength = strlen(folder);
    if (folderLength == 0) return 0;
    // The separator after the folder is the path's own.
    if (folder[folderLength - 1] == '\\') --folderLength;
    if (strlen(path) <= folderLength + 1 || !SameText(path, folder, folderLength) || path[folderLength] != '\\') {
        return 0;
    }
    const char* name = path + folderLength + 1;
    if (strpbrk(name, "\\/") != nullptr || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return 0;
    return folderLength + 1;
}
