// Walks the running processes with the path of each one's program file.
#pragma once
#include <windows.h>
#include <cstdint>

using ProcessCallback = int32_t (*)(const char* path, int32_t reserved, uint32_t processId, void* context);

class ProcessEnumerator {
public:
    virtual ~ProcessEnumerator() = default;
    virtual int32_t Enumerate(ProcessCallback callback, void* context) = 0;

protected:
    int32_t available = 0;
};

int32_t EnumerateProcesses(int32_t isNt, ProcessCallback callback, void* context);
