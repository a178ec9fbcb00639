// The 32-bit program's runtime (the compiler's thread primitives, the C
// runtime's rand_s) calls three wide-character functions that the 9x family
// exports only as stubs failing with ERROR_CALL_NOT_IMPLEMENTED, one of them
// at start-up. Their import slots are filled here with the ANSI forms, which
// every Windows implements, so the program imports none of them and the
// runtime gets a working answer on both families.
#include <windows.h>

namespace {

// False, with the system's last error, when the name does not fit.
bool Narrow(LPCWSTR wide, char (&narrow)[MAX_PATH]) {
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, MAX_PATH, nullptr, nullptr) != 0;
}

HANDLE WINAPI NarrowCreateSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name != nullptr && !Narrow(name, narrow)) return nullptr;
    return CreateSemaphoreA(attributes, initial, maximum, name != nullptr ? narrow : nullptr);
}

HMODULE WINAPI NarrowGetModuleHandle(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name != nullptr && !Narrow(name, narrow)) return nullptr;
    return GetModuleHandleA(name != nullptr ? narrow : nullptr);
}

HMODULE WINAPI NarrowLoadLibrary(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (!Narrow(name, narrow)) return nullptr;
    return LoadLibraryA(narrow);
}

}  // namespace

// The import slots the runtime's calls go through (i386 decorated names).
extern "C" {
extern decltype(&NarrowCreateSemaphore) const narrowCreateSemaphoreSlot __asm__("__imp__CreateSemaphoreW@16");
extern decltype(&NarrowGetModuleHandle) const narrowGetModuleHandleSlot __asm__("__imp__GetModuleHandleW@4");
extern decltype(&NarrowLoadLibrary) const narrowLoadLibrarySlot __asm__("__imp__LoadLibraryW@4");
}
decltype(&NarrowCreateSemaphore) const narrowCreateSemaphoreSlot = NarrowCreateSemaphore;
decltype(&NarrowGetModuleHandle) const narrowGetModuleHandleSlot = NarrowGetModuleHandle;
decltype(&NarrowLoadLibrary) const narrowLoadLibrarySlot = NarrowLoadLibrary;
