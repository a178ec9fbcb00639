#include "base/optional_functions.h"

namespace {

Kernel32Functions FindKernel32Functions() {
    const HMODULE kernel32 = GetModuleHandleA("KERNEL32.DLL");
    const DWORD error = kernel32 != nullptr ? ERROR_SUCCESS : GetLastError();
    const auto entry = [kernel32](const char* name) { return OptionalEntry(kernel32, name); };
    return {entry("GetSystemWow64DirectoryA"),   entry("GetSystemWow64DirectoryW"),
            entry("GetSystemWindowsDirectoryA"), entry("GetSystemWindowsDirectoryW"),
            entry("QueryFullProcessImageNameW"), entry("IsWow64Process"),
            entry("GetProcessTimes"),            entry("QueryDosDeviceW"),
            entry("CreateToolhelp32Snapshot"),   entry("Process32First"),
            entry("Process32Next"),              kernel32 != nullptr,
            error};
}

NtdllFunctions FindNtdllFunctions() {
    const HMODULE ntdll = GetModuleHandleA("NTDLL.DLL");
    const auto entry = [ntdll](const char* name) { return OptionalEntry(ntdll, name); };
    return {entry("NtQueryInformationFile"), entry("NtSetInformationFile"),      entry("NtQueryKey"),
            entry("NtCreateFile"),           entry("NtQueryInformationProcess"), entry("RtlNtStatusToDosError")};
}

Advapi32Functions FindAdvapi32Functions() {
    const HMODULE advapi32 = GetModuleHandleA("ADVAPI32.DLL");
    return {OptionalEntry(advapi32, "SystemFunction036"), OptionalEntry(advapi32, "SetSecurityDescriptorControl")};
}

}  // namespace

const Kernel32Functions& Kernel32Optional() { return FilledOnce<Kernel32Functions, FindKernel32Functions>(); }
const NtdllFunctions& NtdllOptional() { return FilledOnce<NtdllFunctions, FindNtdllFunctions>(); }
const Advapi32Functions& Advapi32Optional() { return FilledOnce<Advapi32Functions, FindAdvapi32Functions>(); }
