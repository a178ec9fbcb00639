// Deleting or renaming a file now, or at the next restart when it is in use.
#pragma once
#include <windows.h>
#include <cstdint>
// <windows.h> maps ReplaceFile to the platform's ReplaceFileA; this module
// owns the name.
#undef ReplaceFile

enum ReplaceFileResult : int32_t {
    NotFound = 0,
    Done = 1,
    DoneAtReboot = 2,
    FailedDestinationRemoved = 3,
    Failed = 4,
};

int32_t FileExist(const char* path);
int32_t ReplaceFile(const char* prefix, const char* sourceName, const char* destinationName, int32_t context);

// Accounts for one ReplaceFile result in the run's outcome values: a restart
// adds to the reboot count, a failure to the error count.
void ApplyResultRule(int result);
