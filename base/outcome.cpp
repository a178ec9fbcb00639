#include "base/outcome.h"

namespace {
RunOutcome Outcome;
}  // namespace

RunOutcome& CurrentRunOutcome() { return Outcome; }
void ResetRunOutcome() { Outcome = RunOutcome{}; }

void SetInfectionState(int32_t value) { Outcome.infection = value; }
int32_t GetInfectionState() { return Outcome.infection; }
void AddRebootNeeded() { ++Outcome.reboot; }
int32_t GetRebootNeeded() { return Outcome.reboot; }
void AddError() { ++Outcome.errors; }
int32_t GetErrorCount() { return Outcome.errors; }
void AddUnchecked() { ++Outcome.unchecked; }
int32_t GetUncheckedCount() { return Outcome.unchecked; }

int32_t ReportError(int32_t /*kind*/, int32_t /*code*/, int32_t /*parameter1*/, int32_t /*parameter2*/,
                    int32_t /*context*/) {
    return 0;
}
