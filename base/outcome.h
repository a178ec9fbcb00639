// Process-wide outcome values of a run and the error-report hook.
#pragma once
#include <cstdint>

void SetInfectionState(int32_t value);
int32_t GetInfectionState();
void AddRebootNeeded();
int32_t GetRebootNeeded();
void AddError();
int32_t GetErrorCount();
// Checks that could not be made (a file that is there but cannot be read):
// not an error of the removal, but no clean result either.
void AddUnchecked();
int32_t GetUncheckedCount();

// Error-report hook; has no effect in this program.
int32_t ReportError(int32_t kind, int32_t code, int32_t parameter1, int32_t parameter2, int32_t context);

// Infection state value stored when a worm copy is found.
constexpr int32_t InfectionFound = 2;
