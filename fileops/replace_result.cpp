#include "fileops/replace_result.h"

#include "base/outcome.h"

void ApplyResultRule(ReplaceFileResult result) {
    switch (result) {
    case ReplaceFileResult::DoneAtReboot:
        AddRebootNeeded();
        break;
    case ReplaceFileResult::FailedDestinationRemoved:
    case ReplaceFileResult::Failed:
        AddError();
        break;
    default:
        break;
    }
}
