// Registry values named by one full path: ROOT\KEY\\VALUE or ROOT\\VALUE.
#pragma once
#include <windows.h>
#include <cstdint>

struct RootKeyEntry {
    const char* name;
    HKEY root;
};
extern const RootKeyEntry RootKeyTable[];

// 0 read; 1 key does not open; 2 query failed; 3 value larger than buffer;
// 4 malformed path; 100 out of memory.
int ReadRegistryPathValue(void* buffer, int bufferSize, const char* path);
// On 0: *key open for reading (*keyIsRoot when it is the root itself, not to
// be closed), *valueName a malloc'ed copy the caller frees.
int OpenRegistryPath(const char* path, HKEY* key, int* keyIsRoot, char** valueName);
