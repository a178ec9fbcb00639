#include "base/optional_functions.h"

#include "base/paths.h"
#include "base/system_folders.h"

namespace {

// Null when the module (or the module itself) lacks the name.
template <typename Function>
void LookUp(HMODULE module, const char* name, Function* function) {
    // Through the generic function pointer type, which converts to any other.
    *function = module != nullptr
                    ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                    : nullptr;
}

Kernel32Functions FindKernel32Functions() {
    Kernel32Functions found{};
    const HMODULE kernel32 = GetModuleHandleA("KERNEL32.DLL");
    found.moduleFound = kernel32 != nullptr;
    if (!found.moduleFound) {
        found.moduleError = GetLastError();
        return found;
    }
    LookUp(kernel32, "GetSystemWow64DirectoryA", &found.getSystemWow64DirectoryA);
    LookUp(kernel32, "GetSystemWindowsDirectoryA", &found.getSystemWindowsDirectoryA);
    LookUp(kernel32, "GetSystemWindowsDirectoryW", &found.getSystemWindowsDirectoryW);
    LookUp(kernel32, "QueryFullProcessImageNameW", &found.queryFullProcessImageNameW);
    LookUp(kernel32, "IsWow64Process", &found.isWow64Process);
    LookUp(kernel32, "GetProcessTimes", &found.getProcessTimes);
    LookUp(kernel32, "CreateToolhelp32Snapshot", &found.createToolhelp32Snapshot);
    LookUp(kernel32, "Process32First", &found.process32First);
    LookUp(kernel32, "Process32Next", &found.process32Next);
    return found;
}

NtdllFunctions FindNtdllFunctions() {
    NtdllFunctions found{};
    const HMODULE ntdll = GetModuleHandleA("NTDLL.DLL");
    LookUp(ntdll, "NtQueryInformationFile", &found.ntQueryInformationFile);
    LookUp(ntdll, "NtSetInformationFile", &found.ntSetInformationFile);
    LookUp(ntdll, "NtQueryKey", &found.ntQueryKey);
    return found;
}

Advapi32Functions FindAdvapi32Functions() {
    Advapi32Functions found{};
    const HMODULE advapi32 = GetModuleHandleA("ADVAPI32.DLL");
    LookUp(advapi32, "SystemFunction036", &found.systemFunction036);
    LookUp(advapi32, "SetSecurityDescriptorControl", &found.setSecurityDescriptorControl);
    return found;
}

// Loads a library from the system folder only.
HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH];
    if (!SystemFolder(path, sizeof path) || !AppendDirectorySeparator(path, sizeof path) ||
        !JoinPath(path, sizeof path, path, name)) {
        return nullptr;
    }
    return LoadLibraryA(path);
}

PsapiFunctions FindPsapiFunctions() {
    PsapiFunctions found{};
    // Never freed: the functions serve every walk of the process.
    const HMODULE psapi = LoadSystemLibrary("PSAPI.DLL");
    found.loaded = psapi != nullptr;
    if (!found.loaded) {
        found.loadError = GetLastError();
        return found;
    }
    LookUp(psapi, "EnumProcesses", &found.enumProcesses);
    LookUp(psapi, "GetModuleFileNameExW", &found.getModuleFileNameExW);
    LookUp(psapi, "EnumProcessModules", &found.enumProcessModules);
    LookUp(psapi, "GetModuleBaseNameW", &found.getModuleBaseNameW);
    return found;
}

}  // namespace

// Function-local statics: filled once, by whichever thread asks first.
const Kernel32Functions& Kernel32Optional() {
    static const Kernel32Functions functions = FindKernel32Functions();
    return functions;
}

const NtdllFunctions& NtdllOptional() {
    static const NtdllFunctions functions = FindNtdllFunctions();
    return functions;
}

const Advapi32Functions& Advapi32Optional() {
    static const Advapi32Functions functions = FindAdvapi32Functions();
    return functions;
}

const PsapiFunctions& PsapiOptional() {
    static const PsapiFunctions functions = FindPsapiFunctions();
    return functions;
}
