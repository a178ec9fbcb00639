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
