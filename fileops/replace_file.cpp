#include "fileops/replace_file.h"

// Placeholders until file delete and replace lands.
int32_t FileExist(const char* /*path*/) { return 0; }
int32_t ReplaceFile(const char* /*prefix*/, const char* /*sourceName*/, const char* /*destinationName*/,
                    int32_t /*context*/) {
    return NotFound;
}
