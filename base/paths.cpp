#include "base/paths.h"

#include <cstring>

int32_t AppendDirectorySeparator(char* directory, size_t size) {
    const size_t length = strlen(directory);
    if (length <= 3) return 1;
    if (length + 2 > size) return 0;
    directory[length] = '\\';
    directory[length + 1] = '\0';
    return 1;
}

int32_t JoinPath(char* path, size_t size, const char* first, const char* second) {
    const size_t firstLength = strlen(first);
    const size_t secondLength = strlen(second);
    if (size == 0) return 0;
    if (firstLength + secondLength >= size) {
        path[0] = '\0';
        return 0;
    }
    memmove(path, first, firstLength);
    memcpy(path + firstLength, second, secondLength + 1);
    return 1;
}
