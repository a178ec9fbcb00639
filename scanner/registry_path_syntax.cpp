#include "scanner/registry_path_syntax.h"

#include <cstring>

bool SplitRegistryPath(const char* path, RegistryPathParts* parts) {
    const char* firstSlash = std::strchr(path, '\\');
    if (firstSlash == nullptr) return false;
    const size_t length = std::strlen(path);
    parts->rootLength = static_cast<size_t>(firstSlash - path);
    parts->keyStart = parts->rootLength + 1;
    if (firstSlash[1] == '\\') {
        parts->valueUnderRoot = true;
        parts->keyLength = 0;
        parts->valueStart = parts->rootLength + 2;
    } else {
        // KEY may hold single backslashes; the first adjacent pair ends it.
        size_t pair = parts->keyStart;
        while (pair + 1 < length && !(path[pair] == '\\' && path[pair + 1] == '\\')) ++pair;
        if (pair + 1 >= length) return false;
        parts->valueUnderRoot = false;
        parts->keyLength = pair - parts->keyStart;
        parts->valueStart = pair + 2;
    }
    const char* bar = std::strchr(path + parts->valueStart, '|');
    size_t valueEnd = bar != nullptr ? static_cast<size_t>(bar - path) : length;
    // Only the end of the whole path is trimmed: after a "|" that part is
    // unused, so spaces in front of the "|" stay in the name.
    if (bar == nullptr) {
        while (valueEnd > parts->valueStart && path[valueEnd - 1] == ' ') --valueEnd;
    }
    parts->valueLength = valueEnd - parts->valueStart;
    return true;
}

bool EqualsIgnoringCase(const char* text, size_t length, const char* name) {
    for (size_t i = 0; i < length; ++i) {
        char a = text[i];
        char b = name[i];
        if (b == '\0') return false;
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return name[length] == '\0';
}
