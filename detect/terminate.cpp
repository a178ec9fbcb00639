#include "detect/terminate.h"

// Placeholder until process termination lands.
int32_t TerminateInfectedProcesses(InfectionPredicate /*predicate*/) { return 1; }
int32_t ExamineProcess(const char* /*path*/, int32_t /*reserved*/, uint32_t /*processId*/, void* /*context*/) {
    return 0;
}
int32_t SetPrivilege(HANDLE /*token*/, const char* /*privilegeName*/, int32_t /*enable*/) { return 0; }
