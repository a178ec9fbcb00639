// Small owners for platform handles, one per kind, each with its own invalid value.
#pragma once
#include <windows.h>

#include "base/unique_resource.h"

inline void CloseHandleOnly(HANDLE h) { CloseHandle(h); }
inline void CloseKey(HKEY k) { RegCloseKey(k); }
inline void CloseService(SC_HANDLE h) { CloseServiceHandle(h); }
inline void UnloadLibrary(HMODULE m) { FreeLibrary(m); }
inline void ReleaseSid(PSID s) { FreeSid(s); }

// CreateFileA and toolhelp snapshots answer INVALID_HANDLE_VALUE when they fail.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

// Process, token and event handles: NULL when absent.
using UniqueHandle = UniqueResource<NullInvalid<HANDLE, CloseHandleOnly>>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueRegKey = UniqueResource<NullInvalid<HKEY, CloseKey>>;
using UniqueServiceHandle = UniqueResource<NullInvalid<SC_HANDLE, CloseService>>;
using UniqueLibrary = UniqueResource<NullInvalid<HMODULE, UnloadLibrary>>;
using UniqueSid = UniqueResource<NullInvalid<PSID, ReleaseSid>>;
