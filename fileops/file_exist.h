// Whether a file is there, traced under the FileExist operation.
#pragma once
#include <cstdint>

#include "fileops/file_target.h"

// What FileExist found: only "file not found" and "path not found" make a
// file absent; any other failure leaves the question open.
enum class FileExistence : int32_t {
    Absent = 0,
    Present = 1,
    Unchecked = 2,
};

FileExistence ExistenceOf(const char* path);
// The target's whole path, traced as shown.
FileExistence ExistenceOf(const FileTarget& target);
// The same answer as a number, 0 to 2.
int32_t FileExist(const char* path);
