// Walks the running processes with the path of each one's program file.
#pragma once
#include <windows.h>
#include <tlhelp32.h>
#include <cstdint>

#include "base/guards.h"

// startTime: the process's creation time (FILETIME units) as the walk saw it,
// 0 where the system does not tell it (the 9x family). With the id it names
// the process, as an id alone can be reused once its process has ended.
using ProcessCallback = int32_t (*)(const char* path, int32_t reserved, uint32_t processId, uint64_t startTime,
                                    void* context);

// The creation time of an open process (PROCESS_QUERY_INFORMATION), 0 when
// the system cannot tell it. GetProcessTimes is looked up at run time: the 9x
// family does not implement it.
uint64_t ProcessStartTime(HANDLE process);

class ProcessEnumerator {
public:
    virtual ~ProcessEnumerator() = default;
    // Visits every process once; 1 when the walk ran, 0 when it could not
    // start (the reason is traced).
    virtual int32_t Enumerate(ProcessCallback callback, void* context) = 0;

protected:
    int32_t available = 0;
};

// The toolhelp functions of KERNEL32.DLL (the 9x family), looked up at run
// time because NT 4 lacks them.
class ToolhelpProcessEnumerator : public ProcessEnumerator {
public:
    ToolhelpProcessEnumerator();
    int32_t Enumerate(ProcessCallback callback, void* context) override;

protected:
    using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
    using ProcessWalkFn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);

    HMODULE kernel32 = nullptr;  // only looked up, never loaded
    UniqueFileHandle snapshot;
    PROCESSENTRY32 entry{};
    CreateSnapshotFn createToolhelp32Snapshot = nullptr;
    ProcessWalkFn process32First = nullptr;
    ProcessWalkFn process32Next = nullptr;
};

// PSAPI.DLL (the NT family), loaded at run time from the system directory
// only.
class PsapiProcessEnumerator : public ProcessEnumerator {
public:
    PsapiProcessEnumerator();
    int32_t Enumerate(ProcessCallback callback, void* context) override;

protected:
    using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD size, DWORD* used);
    using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, char* name, DWORD size);
    using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);
    using GetModuleBaseNameAFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, char* name, DWORD size);

    UniqueLibrary psapi;
    EnumProcessesFn enumProcesses = nullptr;
    GetModuleFileNameExAFn getModuleFileNameExA = nullptr;
    EnumProcessModulesFn enumProcessModules = nullptr;
    GetModuleBaseNameAFn getModuleBaseNameA = nullptr;
};

// Runs the PSAPI walker when isNt is nonzero, else the toolhelp walker;
// returns the walk's result.
int32_t EnumerateProcesses(int32_t isNt, ProcessCallback callback, void* context);
