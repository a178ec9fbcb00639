#include "detect/process_enum.h"

#include "base/optional_functions.h"
#include "base/path_forms.h"
#include "base/paths.h"
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

// Never freed: the functions serve every walk of the process.
PsapiFunctions FindPsapiFunctions() {
    char path[MAX_PATH];
    const bool named = SystemFolder(path, sizeof path) && AppendDirectorySeparator(path, sizeof path) &&
                       JoinPath(path, sizeof path, path, "PSAPI.DLL");
    const HMODULE psapi = named ? LoadLibraryA(path) : nullptr;
    const DWORD error = psapi != nullptr ? ERROR_SUCCESS : named ? GetLastError() : ERROR_PATH_NOT_FOUND;
    const auto entry = [psapi](const char* name) { return OptionalEntry(psapi, name); };
    return {entry("EnumProcesses"),      entry("GetModuleFileNameExW"), entry("EnumProcessModules"),
            entry("GetModuleBaseNameW"), entry("GetMappedFileNameW"),   psapi != nullptr,
            error};
}

}  // namespace

const PsapiFunctions& PsapiOptional() { return FilledOnce<PsapiFunctions, FindPsapiFunctions>(); }

int32_t ProcessEnumerator::Enumerate(ProcessCallback callback, void* context) {
    NarrowWalk walk{callback, context, 0};
    const int32_t result = Enumerate(VisitNarrowed, &walk);
    notExamined += walk.refused;
    return result;
}

void ProcessEnumerator::Refuse(const wchar_t* path, uint32_t processId, const char* reason) {
    ++notExamined;
    TRACE(TraceFailure, "Process %s (PID=0x%x) is not examined: %s\n", ShowPath(path).text, processId, reason);
}

void ProcessEnumerator::Refuse(uint32_t processId, const char* step, DWORD error) {
    ++notExamined;
    TRACE(TraceFailure, "Process (PID=0x%x) is not examined: %s, error=%ld\n", processId, step,
          static_cast<long>(error));
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
    notExamined = 0;
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

// Sixteen-bit tasks are visited through their virtual machine's process, whose
// program file is the one a check can read: the walk needs no VDMDBG.DLL.
PsapiProcessEnumerator::PsapiProcessEnumerator() {
    // Vista and later only: elsewhere the module list tells the path.
    queryFullProcessImageNameW = Kernel32Optional().queryFullProcessImageNameW;
    ntQueryInformationProcess = NtdllOptional().ntQueryInformationProcess;
    const PsapiFunctions& psapi = PsapiOptional();
    if (!Present(psapi.loaded, "load", "PSAPI.DLL", psapi.loadError)) return;
    enumProcesses = Traced(psapi.enumProcesses, "PSAPI.DLL", "EnumProcesses");
    getModuleFileNameExW = Traced(psapi.getModuleFileNameExW, "PSAPI.DLL", "GetModuleFileNameExW");
    getModuleBaseNameW = Traced(psapi.getModuleBaseNameW, "PSAPI.DLL", "GetModuleBaseNameW");
    enumProcessModules = Traced(psapi.enumProcessModules, "PSAPI.DLL", "EnumProcessModules");
    if (enumProcesses && getModuleFileNameExW && getModuleBaseNameW && enumProcessModules) available = 1;
}

PsapiProcessEnumerator::PathLook PsapiProcessEnumerator::ReadProgramPath(DWORD processId, wchar_t* path, DWORD size,
                                                                       uint64_t* startTime) {
    PathLook look;
    // The limited right is all that the path and the start time need where
    // the system has it (Vista and later: it also reaches protected processes).
    const DWORD access = queryFullProcessImageNameW != nullptr ? PROCESS_QUERY_LIMITED_INFORMATION
                                                               : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
    SetLastError(0xdeadbeef);
    UniqueHandle process(OpenProcess(access, FALSE, processId));
    if (!process) {
        look.error = GetLastError();
        // The answer for an id that names no process: one that ended since
        // the list was taken, or the idle process's 0.
        look.result = look.error == ERROR_INVALID_PARAMETER ? PathRead::Gone : PathRead::Failed;
        look.step = "it cannot be opened";
        return look;
    }
    if (queryFullProcessImageNameW != nullptr) {
        DWORD length = size;
        if (queryFullProcessImageNameW(process.get(), 0, path, &length)) {
            look.result = PathRead::Read;
            look.length = length;
        } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            look.result = PathRead::TooLong;
        } else {
            look.error = GetLastError();
        }
    } else {
        HMODULE modules[ModuleCount];
        DWORD needed = 0;
        // The first module is the program's own.
        if (!enumProcessModules(process.get(), modules, sizeof modules, &needed) || needed < sizeof(HMODULE)) {
            look.error = needed < sizeof(HMODULE) && GetLastError() == ERROR_SUCCESS ? ERROR_MOD_NOT_FOUND
                                                                                      : GetLastError();
        } else {
            const DWORD length = getModuleFileNameExW(process.get(), modules[0], path, size);
            if (length == 0) {
                look.error = GetLastError();
            } else if (length >= size - 1) {
                // A path that fills the buffer may have lost its end.
                look.result = PathRead::TooLong;
            } else {
                look.result = PathRead::Read;
                look.length = length;
            }
        }
    }
    // A name that is no path (a system process's own name, say) is no file.
    const bool named = look.result == PathRead::Read && path[0] != L'\\' && PlaceOfPath(path) != PathPlace::Drive;
    if (look.result == PathRead::Failed || (named && WhyNoPath(process.get()) == PathRead::NoProgramFile)) {
        look.result = look.result == PathRead::Failed ? WhyNoPath(process.get()) : PathRead::NoProgramFile;
        look.step = "its program path cannot be read";
        return look;
    }
    *startTime = ProcessStartTime(process.get());
    return look;
}

PsapiProcessEnumerator::PathRead PsapiProcessEnumerator::WhyNoPath(HANDLE process) {
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE) return PathRead::Gone;
    if (ntQueryInformationProcess == nullptr) return PathRead::Failed;
    // The system's own processes (System, and from Windows 10 Registry,
    // Memory Compression, Secure System) have an empty image name (XP and
    // later), and before XP no user-mode part at all, so no process
    // environment block.
    constexpr int ProcessBasicInformationClass = 0;
    constexpr int ProcessImageFileNameClass = 27;
    constexpr LONG InvalidInfoClass = static_cast<LONG>(0xC0000003);
    struct {
        USHORT length;
        USHORT maximumLength;
        wchar_t* buffer;
        wchar_t text[MAX_PATH];
    } name{};
    ULONG returned = 0;
    const LONG status =
        ntQueryInformationProcess(process, ProcessImageFileNameClass, &name, sizeof name, &returned);
    if (status >= 0) return name.length == 0 ? PathRead::NoProgramFile : PathRead::Failed;
    if (status != InvalidInfoClass) return PathRead::Failed;
    struct {
        LONG_PTR exitStatus;
        void* environmentBlock;
        ULONG_PTR affinityMask;
        LONG_PTR basePriority;
        ULONG_PTR processId;
        ULONG_PTR parentProcessId;
    } basic{};
    if (ntQueryInformationProcess(process, ProcessBasicInformationClass, &basic, sizeof basic, &returned) >= 0 &&
        basic.environmentBlock == nullptr) {
        return PathRead::NoProgramFile;
    }
    return PathRead::Failed;
}

int32_t PsapiProcessEnumerator::Enumerate(WideProcessCallback callback, void* context) {
    if (!available || !enumProcesses || !getModuleFileNameExW || !enumProcessModules || !getModuleBaseNameW) {
        return 0;
    }
    notExamined = 0;

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
        const PathLook look = ReadProgramPath(processId, reported, PathUnits, &startTime);
        switch (look.result) {
        case PathRead::Read:
        case PathRead::TooLong:
            break;
        case PathRead::Gone:
            TRACE(TraceDetail, "No running process has the id 0x%lx\n", processId);
            continue;
        case PathRead::NoProgramFile:
            TRACE(TraceDetail, "Process (PID=0x%lx) runs no program file\n", processId);
            continue;
        case PathRead::Failed:
            Refuse(processId, look.step, look.error);
            continue;
        }
        const DWORD length = look.result == PathRead::Read ? look.length : PathUnits;
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
int32_t Walk(int32_t isNt, Callback callback, void* context, uint32_t* notExamined) {
    if (isNt) {
        PsapiProcessEnumerator walker;
        const int32_t result = walker.Enumerate(callback, context);
        if (notExamined != nullptr) *notExamined = walker.NotExamined();
        return result;
    }
    ToolhelpProcessEnumerator walker;
    const int32_t result = walker.Enumerate(callback, context);
    if (notExamined != nullptr) *notExamined = walker.NotExamined();
    return result;
}

}  // namespace

int32_t EnumerateProcesses(int32_t isNt, WideProcessCallback callback, void* context, uint32_t* notExamined) {
    return Walk(isNt, callback, context, notExamined);
}

int32_t EnumerateProcesses(int32_t isNt, ProcessCallback callback, void* context, uint32_t* notExamined) {
    return Walk(isNt, callback, context, notExamined);
}

namespace {

// A mapped file's name as the system gives it (\Device\HarddiskVolume1\X,
// or an NT path form) as a Win32 path: the drive whose device it lies on.
bool MappedNameToWin32Path(const wchar_t* mapped, wchar_t* path, size_t size) {
    wchar_t systemRoot[MAX_PATH];
    SharedWindowsFolder(systemRoot, MAX_PATH);
    const Win32PathResult form = ToWin32Path(mapped, systemRoot, path, size);
    if (form == Win32PathResult::Unchanged || form == Win32PathResult::Converted) return true;
    const auto queryDosDevice = Kernel32Optional().queryDosDeviceW;
    if (form != Win32PathResult::NotAFilePath || queryDosDevice == nullptr) return false;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t drive[] = {letter, L':', L'\0'};
        wchar_t device[MAX_PATH];
        if (queryDosDevice(drive, device, MAX_PATH) != 0 && DrivePathOnDevice(mapped, device, letter, path, size)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool CurrentProgramPath(uint32_t processId, uint64_t startTime, wchar_t* path, size_t size) {
    const PsapiFunctions& psapi = PsapiOptional();
    if (psapi.enumProcessModules == nullptr || psapi.getMappedFileNameW == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) return false;
    if (startTime != 0 && ProcessStartTime(process.get()) != startTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // The first module is the program's own.
    HMODULE modules[1] = {};
    DWORD needed = 0;
    if (!psapi.enumProcessModules(process.get(), modules, sizeof modules, &needed) || needed < sizeof(HMODULE)) {
        return false;
    }
    wchar_t mapped[CurrentPathUnits];
    const DWORD length = psapi.getMappedFileNameW(process.get(), modules[0], mapped, CurrentPathUnits);
    if (length == 0 || length >= CurrentPathUnits - 1) return false;
    mapped[length] = L'\0';
    if (!MappedNameToWin32Path(mapped, path, size)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    return true;
}
