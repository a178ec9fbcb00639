#include "base/optional_functions.h"

#include "base/paths.h"
#include "base/system_folders.h"

namespace {

// An entry point as GetProcAddress answers it, converted to the record's
// function type through the generic function pointer type, which converts to
// any other; null when the module (or the module itself) is missing.
class Entry {
public:
    Entry(HMODULE module, const char* name) : address_(module != nullptr ? GetProcAddress(module, name) : nullptr) {}
    template <typename Function>
    operator Function() const {  // implicit: fills each field of a record by its type
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address_));
    }

private:
    FARPROC address_;
};

Kernel32Functions FindKernel32Functions() {
    const HMODULE kernel32 = GetModuleHandleA("KERNEL32.DLL");
    const DWORD error = kernel32 != nullptr ? ERROR_SUCCESS : GetLastError();
    return {Entry(kernel32, "GetSystemWow64DirectoryA"), Entry(kernel32, "GetSystemWow64DirectoryW"),
            Entry(kernel32, "GetSystemWindowsDirectoryA"),
            Entry(kernel32, "GetSystemWindowsDirectoryW"), Entry(kernel32, "QueryFullProcessImageNameW"),
            Entry(kernel32, "IsWow64Process"), Entry(kernel32, "GetProcessTimes"),
            Entry(kernel32, "CreateToolhelp32Snapshot"), Entry(kernel32, "Process32First"),
            Entry(kernel32, "Process32Next"), kernel32 != nullptr, error};
}

NtdllFunctions FindNtdllFunctions() {
    const HMODULE ntdll = GetModuleHandleA("NTDLL.DLL");
    return {Entry(ntdll, "NtQueryInformationFile"), Entry(ntdll, "NtSetInformationFile"), Entry(ntdll, "NtQueryKey")};
}

Advapi32Functions FindAdvapi32Functions() {
    const HMODULE advapi32 = GetModuleHandleA("ADVAPI32.DLL");
    return {Entry(advapi32, "SystemFunction036"), Entry(advapi32, "SetSecurityDescriptorControl")};
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

// Never freed: the functions serve every walk of the process.
PsapiFunctions FindPsapiFunctions() {
    const HMODULE psapi = LoadSystemLibrary("PSAPI.DLL");
    const DWORD error = psapi != nullptr ? ERROR_SUCCESS : GetLastError();
    return {Entry(psapi, "EnumProcesses"), Entry(psapi, "GetModuleFileNameExW"), Entry(psapi, "EnumProcessModules"),
            Entry(psapi, "GetModuleBaseNameW"), psapi != nullptr, error};
}

// A function-local static: filled once, by whichever thread asks first.
template <typename Functions, Functions (*Find)()>
const Functions& Once() {
    static const Functions functions = Find();
    return functions;
}

}  // namespace

const Kernel32Functions& Kernel32Optional() { return Once<Kernel32Functions, FindKernel32Functions>(); }
const NtdllFunctions& NtdllOptional() { return Once<NtdllFunctions, FindNtdllFunctions>(); }
const Advapi32Functions& Advapi32Optional() { return Once<Advapi32Functions, FindAdvapi32Functions>(); }
const PsapiFunctions& PsapiOptional() { return Once<PsapiFunctions, FindPsapiFunctions>(); }
