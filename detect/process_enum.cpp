#include "detect/process_enum.h"

#include "base/path_forms.h"
#include "base/optional_functions.h"
#include "base/system_folders.h"
#include "base/wide_files.h"
#include "trace/trace.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The record size that 9x-family toolhelp expects from an ANSI caller.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32) == 296);

constexpr DWORD InitialIdCount = 1024;
constexpr DWORD ModuleCount = 1024;
// The longest path the NT family can name, with the terminator.
constexpr DWORD PathUnits = 32768;

// A DLL of a walk, traced when the system lacks it.
bool Present(bool found, const char* failed, const char* library, DWORD error) {
    if (!found) TRACE(TraceFailure, "Cannot %s %s error=%ld\n", failed, library, static_cast<long>(error));
    return found;
}

// An entry point of a walk, traced by name when the system lacks it.
template <typename Function>
Function Traced(Function function, const char* library, const char* name) {
    if (function == nullptr) TRACE(TraceFailure, "Cannot find %s in %s\n", name, library);
    return function;
}

// A walk for a callback of ANSI paths: each path narrowed as the system's
// ANSI functions narrow it.
struct NarrowWalk {
    ProcessCallback callback;
    void* context;
    uint32_t refused;
};

int32_t VisitNarrowed(const wchar_t* path, int32_t reserved, uint32_t processId, uint64_t startTime, void* context) {
    auto* walk = static_cast<NarrowWalk*>(context);
    char ansi[MAX_PATH];
    if (!WideToAnsiAsSystem(path, ansi, sizeof ansi)) {
        ++walk->refused;
        TRACE(TraceFailure, "Process %s (PID=0x%x) is not examined: it is too long for the ANSI functions\n",
              ShowPath(path).text, processId);
        return 0;
    }
    return walk->callback(ansi, reserved, processId, startTime, walk->context);
}

}  // namespace

int32_t ProcessEnumerator::Enumerate(ProcessCallback callback, void* context) {
    NarrowWalk walk{callback, context, 0};
    const int32_t result = Enumerate(VisitNarrowed, &walk);
    pathsRefused += walk.refused;
    return result;
}

void ProcessEnumerator::Refuse(const wchar_t* path, uint32_t processId, const char* reason) {
    ++pathsRefused;
    TRACE(TraceFailure, "Process %s (PID=0x%x) is not examined: %s\n", ShowPath(path).text, processId, reason);
}

uint64_t ProcessStartTime(HANDLE process) {
    const auto getProcessTimes = Kernel32Optional().getProcessTimes;
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (getProcessTimes == nullptr || !getProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

ToolhelpProcessEnumerator::ToolhelpProcessEnumerator() {
    const Kernel32Functions& kernel32 = Kernel32Optional();
    if (!Present(kernel32.moduleFound, "find", "KERNEL32.DLL", kernel32.moduleError)) return;
    createToolhelp32Snapshot = Traced(kernel32.createToolhelp32Snapshot, "KERNEL32.DLL", "CreateToolhelp32Snapshot");
    process32First = Traced(kernel32.process32First, "KERNEL32.DLL", "Process32First");
    process32Next = Traced(kernel32.process32Next, "KERNEL32.DLL", "Process32Next");
    if (createToolhelp32Snapshot && process32First && process32Next) {
        entry.dwSize = sizeof entry;
        available = 1;
    }
}

int32_t ToolhelpProcessEnumerator::Enumerate(WideProcessCallback callback, void* context) {
    if (!available || !createToolhelp32Snapshot || !process32First || !process32Next) return 0;
    pathsRefused = 0;
    snapshot.reset(createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        TRACE(TraceFailure, "Cannot take a process snapshot error=%ld\n", GetLastError());
        return 0;
    }
    // The list holds this program at least: an empty one was not read.
    BOOL more = process32First(snapshot.get(), &entry);
    if (!more) {
        TRACE(TraceFailure, "Cannot read the process snapshot error=%ld\n", GetLastError());
        snapshot.reset();
        return 0;
    }
    wchar_t path[MAX_PATH];
    for (; more; more = process32Next(snapshot.get(), &entry)) {
        // A name that fills the record may have lost its end: a cut path
        // could name another file.
        const bool whole = memchr(entry.szExeFile, '\0', sizeof entry.szExeFile) != nullptr;
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        if (!AnsiToWide(entry.szExeFile, path, MAX_PATH)) path[0] = L'\0';
        if (!whole) {
            Refuse(path, entry.th32ProcessID, Win32PathRefusal(Win32PathResult::TooLong));
            continue;
        }
        callback(path, 0, entry.th32ProcessID, 0, context);
    }
    snapshot.reset();
    return 1;
}

// VDMDBG.DLL is not needed: sixteen-bit tasks are not visited one by one, and
// a system without it must still be walked.
PsapiProcessEnumerator::PsapiProcessEnumerator() {
    // Vista and later only: elsewhere the module list tells the path.
    queryFullProcessImageNameW = Kernel32Optional().queryFullProcessImageNameW;
    const PsapiFunctions& psapi = PsapiOptional();
    if (!Present(psapi.loaded, "load", "PSAPI.DLL", psapi.loadError)) return;
    enumProcesses = Traced(psapi.enumProcesses, "PSAPI.DLL", "EnumProcesses");
    getModuleFileNameExW = Traced(psapi.getModuleFileNameExW, "PSAPI.DLL", "GetModuleFileNameExW");
    getModuleBaseNameW = Traced(psapi.getModuleBaseNameW, "PSAPI.DLL", "GetModuleBaseNameW");
    enumProcessModules = Traced(psapi.enumProcessModules, "PSAPI.DLL", "EnumProcessModules");
    if (enumProcesses && getModuleFileNameExW && getModuleBaseNameW && enumProcessModules) available = 1;
}

DWORD PsapiProcessEnumerator::ReadProgramPath(DWORD processId, wchar_t* path, DWORD size, uint64_t* startTime) {
    DWORD length = 0;
    UniqueHandle process;
    if (queryFullProcessImageNameW != nullptr) {
        // The limited right is all that the path and the start time need.
        process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        if (!process) return 0;
        length = size;
        if (!queryFullProcessImageNameW(process.get(), 0, path, &length)) {
            return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size : 0;
        }
    } else {
        process.reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        if (!process) return 0;
        HMODULE modules[ModuleCount];
        DWORD needed = 0;
        if (!enumProcessModules(process.get(), modules, sizeof modules, &needed) || needed < sizeof(HMODULE)) {
            return 0;
        }
        // The first module is the program's own.
        length = getModuleFileNameExW(process.get(), modules[0], path, size);
        if (length == 0) return 0;
        // A path that fills the buffer may have lost its end.
        if (length >= size - 1) return size;
    }
    *startTime = ProcessStartTime(process.get());
    return length;
}

int32_t PsapiProcessEnumerator::Enumerate(WideProcessCallback callback, void* context) {
    if (!available || !enumProcesses || !getModuleFileNameExW || !enumProcessModules || !getModuleBaseNameW) {
        return 0;
    }
    pathsRefused = 0;

    // A full array may mean more processes than it holds: grow it until the
    // list fits, so that no process escapes on a busy machine.
    DWORD capacity = InitialIdCount;
    UniqueMemory ids(malloc(capacity * sizeof(DWORD)));
    // The path as the system reports it, and as a Win32 path.
    UniqueMemory paths(malloc(2 * PathUnits * sizeof(wchar_t)));
    if (!ids || !paths) {
        TRACE(TraceFailure, "Cannot list the processes error=%ld\n", static_cast<long>(ERROR_NOT_ENOUGH_MEMORY));
        return 0;
    }
    DWORD used = 0;
    for (;;) {
        if (!enumProcesses(static_cast<DWORD*>(ids.get()), capacity * sizeof(DWORD), &used)) {
            TRACE(TraceFailure, "Cannot list the processes error=%ld\n", GetLastError());
            return 0;
        }
        if (used < capacity * sizeof(DWORD) || capacity > MAXDWORD / sizeof(DWORD) / 2) break;
        UniqueMemory larger(malloc(capacity * 2 * sizeof(DWORD)));
        if (!larger) break;  // visit the ones that the last call listed
        ids = std::move(larger);
        capacity *= 2;
    }

    wchar_t* const reported = static_cast<wchar_t*>(paths.get());
    wchar_t* const win32Path = reported + PathUnits;
    // What \SystemRoot names; empty when it cannot be read.
    wchar_t systemRoot[MAX_PATH];
    SharedWindowsFolder(systemRoot, MAX_PATH);
    const DWORD count = used / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        const DWORD processId = static_cast<const DWORD*>(ids.get())[i];
        uint64_t startTime = 0;
        const DWORD length = ReadProgramPath(processId, reported, PathUnits, &startTime);
        if (length == 0) continue;
        reported[length < PathUnits ? length : PathUnits - 1] = L'\0';
        const Win32PathResult form =
            length < PathUnits ? ToWin32Path(reported, systemRoot, win32Path, PathUnits) : Win32PathResult::TooLong;
        if (form != Win32PathResult::Unchanged && form != Win32PathResult::Converted) {
            Refuse(reported, processId, Win32PathRefusal(form));
            continue;
        }
        // The process handle is closed by now: the callback opens the
        // process again itself if it needs to.
        callback(win32Path, 0, processId, startTime, context);
    }

    available = 0;
    return 1;
}

namespace {

template <typename Callback>
int32_t Walk(int32_t isNt, Callback callback, void* context, uint32_t* pathsRefused) {
    if (isNt) {
        PsapiProcessEnumerator walker;
        const int32_t result = walker.Enumerate(callback, context);
        if (pathsRefused != nullptr) *pathsRefused = walker.PathsRefused();
        return result;
    }
    ToolhelpProcessEnumerator walker;
    const int32_t result = walker.Enumerate(callback, context);
    if (pathsRefused != nullptr) *pathsRefused = walker.PathsRefused();
    return result;
}

}  // namespace

int32_t EnumerateProcesses(int32_t isNt, WideProcessCallback callback, void* context, uint32_t* pathsRefused) {
    return Walk(isNt, callback, context, pathsRefused);
}

int32_t EnumerateProcesses(int32_t isNt, ProcessCallback callback, void* context, uint32_t* pathsRefused) {
    return Walk(isNt, callback, context, pathsRefused);
}
