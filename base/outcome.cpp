#include "base/outcome.h"

namespace {
int32_t InfectionState = 0;
int32_t RebootNeededCount = 0;
int32_t ErrorCount = 0;
int32_t UncheckedCount = 0;
}  // namespace

void SetInfectionState(int32_t value) { InfectionState = value; }
int32_t GetInfectionState() { return InfectionState; }
void AddRebootNeeded() { ++RebootNeededCount; }
int32_t GetRebootNeeded() { return RebootNeededCount; }
void AddError() { ++ErrorCount; }
int32_t GetErrorCount() { return ErrorCount; }
void AddUnchecked() { ++UncheckedCount; }
int32_t GetUncheckedCount() { return UncheckedCount; }

int32_t ReportError(int32_t /*kind*/, int32_t /*code*/, int32_t /*parameter1*/, int32_t /*parameter2*/,
                    int32_t /*context*/) {
    return 0;
}
