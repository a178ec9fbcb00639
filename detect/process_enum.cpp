#include "detect/process_enum.h"

#include "base/paths.h"
#include "base/runtime_link.h"
#include "trace/trace.h"

#include <cstdlib>
#include <utility>

namespace {

// The record size that 9x-family toolhelp expects from an ANSI caller.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32) == 296);

constexpr DWORD InitialIdCount = 1024;
constexpr DWORD ModuleCount = 1024;

// Loads a library from the system directory only: a bare name would also
// find a planted copy beside the program or in the current directory.
HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !AppendDirectorySeparator(path, sizeof path) ||
        !JoinPath(path, sizeof path, path, name)) {
        return nullptr;
    }
    return LoadLibraryA(path);
}

// An entry point of a walk, traced by name when the system lacks it.
template <typename Function>
Function LookUpTraced(HMODULE module, const char* library, const char* name) {
    const auto function = LookUp<Function>(module, name);
    if (function == nullptr) TRACE(TraceFailure, "Cannot find %s in %s\n", name, library);
    return function;
}

}  // namespace

uint64_t ProcessStartTime(HANDLE process) {
    using GetProcessTimesFn = BOOL(WINAPI*)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*);
    static const auto getProcessTimes =
        LookUp<GetProcessTimesFn>(GetModuleHandleA("KERNEL32.DLL"), "GetProcessTimes");
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (getProcessTimes == nullptr || !getProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

ToolhelpProcessEnumerator::ToolhelpProcessEnumerator() : kernel32(GetModuleHandleA("KERNEL32.DLL")) {
    if (kernel32 == nullptr) {
        TRACE(TraceFailure, "Cannot find KERNEL32.DLL error=%ld\n", GetLastError());
        return;
    }
    createToolhelp32Snapshot = LookUpTraced<CreateSnapshotFn>(kernel32, "KERNEL32.DLL", "CreateToolhelp32Snapshot");
    process32First = LookUpTraced<ProcessWalkFn>(kernel32, "KERNEL32.DLL", "Process32First");
    process32Next = LookUpTraced<ProcessWalkFn>(kernel32, "KERNEL32.DLL", "Process32Next");
    if (createToolhelp32Snapshot && process32First && process32Next) {
        entry.dwSize = sizeof entry;
        available = 1;
    }
}

int32_t ToolhelpProcessEnumerator::Enumerate(ProcessCallback callback, void* context) {
    if (!available || !createToolhelp32Snapshot || !process32First || !process32Next) return 0;
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
    for (; more; more = process32Next(snapshot.get(), &entry)) {
        // A name that fills the record may come without its terminator.
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        callback(entry.szExeFile, 0, entry.th32ProcessID, 0, context);
    }
    snapshot.reset();
    return 1;
}

// VDMDBG.DLL is not needed: sixteen-bit tasks are not visited one by one, and
// a system without it must still be walked.
PsapiProcessEnumerator::PsapiProcessEnumerator() {
    psapi.reset(LoadSystemLibrary("PSAPI.DLL"));
    if (!psapi) {
        TRACE(TraceFailure, "Cannot load PSAPI.DLL error=%ld\n", GetLastError());
        return;
    }
    enumProcesses = LookUpTraced<EnumProcessesFn>(psapi.get(), "PSAPI.DLL", "EnumProcesses");
    getModuleFileNameExA = LookUpTraced<GetModuleFileNameExAFn>(psapi.get(), "PSAPI.DLL", "GetModuleFileNameExA");
    getModuleBaseNameA = LookUpTraced<GetModuleBaseNameAFn>(psapi.get(), "PSAPI.DLL", "GetModuleBaseNameA");
    enumProcessModules = LookUpTraced<EnumProcessModulesFn>(psapi.get(), "PSAPI.DLL", "EnumProcessModules");
    if (enumProcesses && getModuleFileNameExA && getModuleBaseNameA && enumProcessModules) available = 1;
}

int32_t PsapiProcessEnumerator::Enumerate(ProcessCallback callback, void* context) {
    if (!available || !enumProcesses || !getModuleFileNameExA || !enumProcessModules || !getModuleBaseNameA) {
        return 0;
    }

    // A full array may mean more processes than it holds: grow it until the
    // list fits, so that no process escapes on a busy machine.
    DWORD capacity = InitialIdCount;
    UniqueMemory ids(malloc(capacity * sizeof(DWORD)));
    if (!ids) {
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

    HMODULE modules[ModuleCount];
    char path[MAX_PATH];
    const DWORD count = used / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        const DWORD processId = static_cast<const DWORD*>(ids.get())[i];
        UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
        if (!process) continue;
        DWORD needed = 0;
        if (!enumProcessModules(process.get(), modules, sizeof modules, &needed) || needed < sizeof(HMODULE)) {
            continue;
        }
        const DWORD length = getModuleFileNameExA(process.get(), modules[0], path, sizeof path);
        if (length == 0) continue;
        // A path that fills the buffer may come without its terminator.
        path[length < sizeof path ? length : sizeof path - 1] = '\0';
        const uint64_t startTime = ProcessStartTime(process.get());
        process.reset();
        callback(path, 0, processId, startTime, context);
    }

    psapi.reset();
    available = 0;
    return 1;
}

int32_t EnumerateProcesses(int32_t isNt, ProcessCallback callback, void* context) {
    if (isNt) {
        PsapiProcessEnumerator walker;
        return walker.Enumerate(callback, context);
    }
    ToolhelpProcessEnumerator walker;
    return walker.Enumerate(callback, context);
}
