// Walks the running processes with the path of each one's program file.
#pragma once
#include <windows.h>
#include <tlhelp32.h>
#include <cstdint>

#include "base/guards.h"
#include "base/optional_functions.h"

// PSAPI.DLL (the NT family), loaded from the system folder only, once, and
// kept loaded for the rest of the process: a bare name would also find a
// planted copy beside the program or in the current folder.
struct PsapiFunctions {
    BOOL(WINAPI* enumProcesses)(DWORD* ids, DWORD size, DWORD* used);
    DWORD(WINAPI* getModuleFileNameExW)(HANDLE process, HMODULE module, LPWSTR name, DWORD size);
    BOOL(WINAPI* enumProcessModules)(HANDLE process, HMODULE* modules, DWORD size, DWORD* needed);
    DWORD(WINAPI* getModuleBaseNameW)(HANDLE process, HMODULE module, LPWSTR name, DWORD size);
    DWORD(WINAPI* getMappedFileNameW)(HANDLE process, void* address, LPWSTR name, DWORD size);
    bool loaded;
    DWORD loadError;  // the system's reason when the DLL could not be loaded
};
const PsapiFunctions& PsapiOptional();

// path: the Win32 path of the process's program file in UTF-16, as the NT
// family names files (on the 9x family the ANSI path it reports, widened).
// startTime: the process's creation time (FILETIME units) as the walk saw
// it, 0 where the system does not tell it (the 9x family). With the id it
// names the process, as an id alone can be reused once its process has ended.
using WideProcessCallback = int32_t (*)(const wchar_t* path, int32_t reserved, uint32_t processId,
                                        uint64_t startTime, void* context);

// The same walk with the path in ANSI (at most MAX_PATH bytes with the
// terminator) as the system's ANSI functions give it: a character that the
// code page lacks becomes a look-alike or "?".
using ProcessCallback = int32_t (*)(const char* path, int32_t reserved, uint32_t processId, uint64_t startTime,
                                    void* context);

// The creation time of an open process (PROCESS_QUERY_INFORMATION, or from
// Vista on PROCESS_QUERY_LIMITED_INFORMATION), 0 when the system cannot
// tell it. GetProcessTimes is looked up at run time: the 9x family does not
// implement it.
uint64_t ProcessStartTime(HANDLE process);

class ProcessEnumerator {
public:
    virtual ~ProcessEnumerator() = default;
    // Visits every process whose program path can be read once; 1 when the
    // walk ran, 0 when it could not start (the reason is traced).
    virtual int32_t Enumerate(WideProcessCallback callback, void* context) = 0;
    // The same walk for a callback that takes ANSI paths.
    int32_t Enumerate(ProcessCallback callback, void* context);
    // Processes of the last walk that run a program but were not handed on
    // (they could not be opened, their program path could not be read, or
    // it is no Win32 path or too long), each traced with its id and reason:
    // their programs were not examined. Processes that have ended, and
    // those that run no program file (the system's own), are not counted.
    uint32_t NotExamined() const { return notExamined; }

protected:
    // Traces why the process's path (as the system reported it) is not
    // handed on, and counts it.
    void Refuse(const wchar_t* path, uint32_t processId, const char* reason);
    // The same for a process whose path could not be read at all.
    void Refuse(uint32_t processId, const char* step, DWORD error);

    int32_t available = 0;
    uint32_t notExamined = 0;
};

// The toolhelp functions of KERNEL32.DLL (the 9x family), which NT 4 lacks
// (base/optional_functions.h). The 9x family has no Unicode names: the
// ANSI walk's paths are widened through the ANSI code page.
class ToolhelpProcessEnumerator : public ProcessEnumerator {
public:
    ToolhelpProcessEnumerator();
    using ProcessEnumerator::Enumerate;
    int32_t Enumerate(WideProcessCallback callback, void* context) override;

protected:
    UniqueFileHandle snapshot;
    PROCESSENTRY32 entry{};
    // The process's own entry points, copied so that a walk can be given others.
    decltype(Kernel32Functions::createToolhelp32Snapshot) createToolhelp32Snapshot = nullptr;
    decltype(Kernel32Functions::process32First) process32First = nullptr;
    decltype(Kernel32Functions::process32Next) process32Next = nullptr;
};

// The NT family: the process list from PSAPI.DLL (base/optional_functions.h).
// Each program's path in Unicode: from QueryFullProcessImageNameW with the
// limited query right where KERNEL32.DLL has it (Vista and later: it also
// reaches protected processes), else from GetModuleFileNameExW, whose NT
// path forms are turned into Win32 paths.
class PsapiProcessEnumerator : public ProcessEnumerator {
public:
    PsapiProcessEnumerator();
    using ProcessEnumerator::Enumerate;
    int32_t Enumerate(WideProcessCallback callback, void* context) override;

protected:
    // What became of the look at one process's program path.
    enum class PathRead : int32_t {
        Read,           // the path, as the system reports it
        TooLong,        // it does not fit the buffer
        Gone,           // no process of that id runs now (the idle process's id is no process's either)
        NoProgramFile,  // the system says the process runs no program file
        Failed,         // the process, or its path, cannot be read: the step and the error say why
    };
    struct PathLook {
        PathRead result = PathRead::Failed;
        DWORD length = 0;  // Read: the path's length
        const char* step = nullptr;  // Failed: what could not be done
        DWORD error = 0;
    };
    // The program path of one process as the system reports it, and the
    // process's start time.
    PathLook ReadProgramPath(DWORD processId, wchar_t* path, DWORD size, uint64_t* startTime);
    // Why a process whose path could not be read has none to read: it has
    // ended, or it runs no program file; else Failed.
    PathRead WhyNoPath(HANDLE process);

    // The process's own entry points, copied so that a walk can be given others.
    decltype(PsapiFunctions::enumProcesses) enumProcesses = nullptr;
    decltype(PsapiFunctions::getModuleFileNameExW) getModuleFileNameExW = nullptr;
    decltype(PsapiFunctions::enumProcessModules) enumProcessModules = nullptr;
    decltype(PsapiFunctions::getModuleBaseNameW) getModuleBaseNameW = nullptr;
    decltype(Kernel32Functions::queryFullProcessImageNameW) queryFullProcessImageNameW = nullptr;  // Vista and later
    decltype(NtdllFunctions::ntQueryInformationProcess) ntQueryInformationProcess = nullptr;
};

// Runs the PSAPI walker when isNt is nonzero, else the toolhelp walker;
// returns the walk's result. notExamined, where given, receives the
// walker's NotExamined.
int32_t EnumerateProcesses(int32_t isNt, WideProcessCallback callback, void* context,
                           uint32_t* notExamined = nullptr);
int32_t EnumerateProcesses(int32_t isNt, ProcessCallback callback, void* context, uint32_t* notExamined = nullptr);

// Where the program file of a running process (NT family) lies now, as the
// system maps it: a file renamed or moved while its program runs keeps its
// mapping, which follows it where the system tracks the name. The process
// must still be the one that started at startTime (when not 0). False, with
// the system's reason as the last error, where it cannot be told.
bool CurrentProgramPath(uint32_t processId, uint64_t startTime, wchar_t* path, size_t size);
// The room that such a path takes at most, with the terminator: the system's
// name of the mapping is read into as much.
constexpr size_t CurrentPathUnits = MAX_PATH * 2;
