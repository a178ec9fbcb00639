// Ends the running worm copies and removes their program files.
#pragma once
#include <windows.h>
#include <cstdint>
#include "detect/signature.h"

struct TerminationContext {
    InfectionPredicate predicate;
    int32_t found;
    int32_t status;
};

int32_t TerminateInfectedProcesses(InfectionPredicate predicate);
int32_t ExamineProcess(const char* path, int32_t reserved, uint32_t processId, uint64_t startTime, void* context);
int32_t SetPrivilege(HANDLE token, const char* privilegeName, int32_t enable);
