// The parts of a registry value named by one full path, found without the
// platform so the parser can be exercised on any machine.
#pragma once
#include <cstddef>

// Offsets into the path text. ROOT is [0, rootLength); KEY is
// [keyStart, keyStart + keyLength), empty when the value lies directly under
// the root; the value name is [valueStart, valueStart + valueLength).
struct RegistryPathParts {
    size_t rootLength;
    int valueUnderRoot;
    size_t keyStart;
    size_t keyLength;
    size_t valueStart;
    size_t valueLength;
};

// Splits ROOT\KEY\\VALUE or ROOT\\VALUE. The value name ends at a "|", and
// spaces (not tabs) at the very end of the path are dropped. 1 when the path
// has a backslash and, after a KEY, a pair of backslashes; 0 otherwise. The
// root name is not checked here.
int SplitRegistryPath(const char* path, RegistryPathParts* parts);

// 1 when text[0, length) equals name, ASCII letters compared without case.
int EqualsIgnoringCase(const char* text, size_t length, const char* name);
