// Entry points of optional system libraries, looked up at run time so that
// the program starts where they are missing.
#pragma once
#include <windows.h>

// Null when the module lacks the name.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
    // Through the generic function pointer type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The 32-bit system folder of 64-bit Windows (SysWOW64), or 0 where there is
// none: 32-bit Windows, and systems older than XP, which lack the function.
inline UINT GetSystemWow64DirectoryIfAny(char* buffer, UINT size) {
    using Function = UINT(WINAPI*)(LPSTR, UINT);
    const auto getSystemWow64Directory = LookUp<Function>(GetModuleHandleA("KERNEL32.DLL"), "GetSystemWow64DirectoryA");
    return getSystemWow64Directory != nullptr ? getSystemWow64Directory(buffer, size) : 0;
}
