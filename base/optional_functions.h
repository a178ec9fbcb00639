// Functions that not every supported Windows exports, looked up at run time
// so that the program starts where they are missing: each DLL's set is looked
// up once per process, on first use (also from a console-control handler
// thread), and a missing function is null.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

// An entry point as GetProcAddress answers it, converted to the function
// type of the record field it fills (through the generic function pointer
// type, which converts to any other); null where the module or the function
// is missing.
class OptionalEntry {
public:
    OptionalEntry(HMODULE module, const char* name)
        : address_(module != nullptr ? GetProcAddress(module, name) : nullptr) {}
    template <typename Function>
    operator Function() const {  // implicit: fills each field of a record by its type
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address_));
    }

private:
    FARPROC address_;
};

// A record of entry points, filled once per process by whichever thread
// asks first (a function-local static).
template <typename Functions, Functions (*Find)()>
const Functions& FilledOnce() {
    static const Functions functions = Find();
    return functions;
}

// KERNEL32.DLL: functions of later systems, and the toolhelp functions, which
// NT 4.0 lacks.
struct Kernel32Functions {
    UINT(WINAPI* getSystemWow64DirectoryA)(LPSTR buffer, UINT size);  // XP: the 32-bit system folder
    UINT(WINAPI* getSystemWow64DirectoryW)(LPWSTR buffer, UINT size);
    // NT 4.0 Terminal Server: the shared Windows folder.
    UINT(WINAPI* getSystemWindowsDirectoryA)(LPSTR buffer, UINT size);
    UINT(WINAPI* getSystemWindowsDirectoryW)(LPWSTR buffer, UINT size);
    BOOL(WINAPI* queryFullProcessImageNameW)(HANDLE process, DWORD flags, LPWSTR name, DWORD* size);  // Vista
    BOOL(WINAPI* isWow64Process)(HANDLE process, PBOOL wow64);  // XP SP2
    // NT only: the 9x family does not implement it.
    BOOL(WINAPI* getProcessTimes)(HANDLE process, FILETIME* created, FILETIME* exited, FILETIME* kernel,
                                  FILETIME* user);
    DWORD(WINAPI* queryDosDeviceW)(LPCWSTR device, LPWSTR target, DWORD size);  // NT only
    HANDLE(WINAPI* createToolhelp32Snapshot)(DWORD flags, DWORD processId);
    BOOL(WINAPI* process32First)(HANDLE snapshot, PROCESSENTRY32* entry);
    BOOL(WINAPI* process32Next)(HANDLE snapshot, PROCESSENTRY32* entry);
    bool moduleFound;
    DWORD moduleError;  // the system's reason when KERNEL32.DLL itself was not found
};
const Kernel32Functions& Kernel32Optional();

// NTDLL.DLL (the NT family only): the file system's and the registry's own
// answers, and acting on an open file by handle.
struct FileIoStatus {
    LONG_PTR status;
    ULONG_PTR information;
};
struct NtdllFunctions {
    LONG(NTAPI* ntQueryInformationFile)(HANDLE file, FileIoStatus* status, void* information, ULONG length,
                                        int informationClass);
    LONG(NTAPI* ntSetInformationFile)(HANDLE file, FileIoStatus* status, void* information, ULONG length,
                                      int informationClass);
    LONG(NTAPI* ntQueryKey)(HANDLE key, int informationClass, void* information, ULONG length, ULONG* needed);
    // objectAttributes: an OBJECT_ATTRIBUTES record (winternl.h).
    LONG(NTAPI* ntCreateFile)(HANDLE* file, ACCESS_MASK access, void* objectAttributes, FileIoStatus* status,
                              LARGE_INTEGER* allocationSize, ULONG attributes, ULONG sharing, ULONG disposition,
                              ULONG options, void* extendedAttributes, ULONG extendedAttributesLength);
    LONG(NTAPI* ntQueryInformationProcess)(HANDLE process, int informationClass, void* information, ULONG length,
                                           ULONG* returned);
    ULONG(NTAPI* rtlNtStatusToDosError)(LONG status);
};
const NtdllFunctions& NtdllOptional();

// ADVAPI32.DLL: functions of later NT versions.
struct Advapi32Functions {
    BOOLEAN(WINAPI* systemFunction036)(PVOID buffer, ULONG length);  // XP: RtlGenRandom
    BOOL(WINAPI* setSecurityDescriptorControl)(PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                                               SECURITY_DESCRIPTOR_CONTROL bits);  // 2000
};
const Advapi32Functions& Advapi32Optional();
