// A stand-in for a DLL planted beside a program or in its current
// directory: loading it leaves "<its own path>.loaded" behind, and it does
// nothing else.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID /*reserved*/) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char marker[MAX_PATH + sizeof ".loaded"];
    const DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    strcat(marker, ".loaded");
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
