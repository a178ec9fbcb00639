// Registry values named by one full path: ROOT\KEY\\VALUE or ROOT\\VALUE.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/guards.h"

struct RootKeyEntry {
    const char* name;
    HKEY root;
};
extern const RootKeyEntry RootKeyTable[];

// 0 read; 1 key does not open; 2 query failed; 3 value larger than buffer;
// 4 malformed path; 100 out of memory.
int ReadRegistryPathValue(void* buffer, int bufferSize, const char* path);
// What OpenRegistryPath hands over: the key to read, open for reading and
// owned, or (keyIsRoot) the root itself, which belongs to the process and is
// not owned; and a copy of the value's name.
struct RegistryPathKey {
    HKEY key = nullptr;
    bool keyIsRoot = false;
    UniqueRegKey owner;
    UniqueMemory valueName;  // the name's characters
    const char* ValueName() const { return static_cast<const char*>(valueName.get()); }
};
// 0 with opened filled in; otherwise opened is left empty.
int OpenRegistryPath(const char* path, RegistryPathKey* opened);
