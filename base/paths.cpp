#include "base/paths.h"

#include <cstring>

bool AppendDirectorySeparator(char* directory, size_t size) {
    const size_t length = strlen(directory);
    if (length <= 3) return true;
    if (length + 2 > size) return false;
    directory[length] = '\\';
    directory[length + 1] = '\0';
    return true;
}

bool JoinPath(char* path, size_t size, const char* first, const char* second) {
    const size_t firstLength = strlen(first);
    const size_t secondLength = strlen(second);
    if (size == 0) return false;
    if (firstLength + secondLength >= size) {
        path[0] = '\0';
        return false;
    }
    memmove(path, first, firstLength);
    memcpy(path + firstLength, second, secondLength + 1);
    return true;
}
