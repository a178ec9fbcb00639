// Ends the running worm copies and removes their program files.
#pragma once
#include <windows.h>
#include <cstdint>
#include "detect/signature.h"
#include "fileops/replace_file.h"

struct TerminationContext {
    Recogniser recognise;
    int32_t found;
    int32_t status;
    // Confirms, right before the deletion, that the file is still a worm copy.
    ContentCheck stillInfected = IsOpenFileInfected;
};

int32_t TerminateInfectedProcesses(Recogniser recognise, ContentCheck stillInfected = IsOpenFileInfected);
int32_t ExamineProcess(const char* path, int32_t reserved, uint32_t processId, uint64_t startTime, void* context);
int32_t SetPrivilege(HANDLE token, const char* privilegeName, int32_t enable);
