// What a deletion or rename came to, and how the run accounts for it.
#pragma once
#include <cstdint>

enum class ReplaceFileResult : int32_t {
    NotFound = 0,
    Done = 1,
    DoneAtReboot = 2,
    FailedDestinationRemoved = 3,
    Failed = 4,
};

// Accounts for one result in the run's outcome values: a restart adds to
// the reboot count, a failure to the error count.
void ApplyResultRule(ReplaceFileResult result);
