// The parts of a registry value named by one full path, found without the
// platform so the parser can be exercised on any machine.
#pragma once
#include <cstddef>

// Offsets into the path text. ROOT is [0, rootLength); KEY is
// [keyStart, keyStart + keyLength), empty when the value lies directly under
// the root; the value name is [valueStart, valueStart + valueLength).
struct RegistryPathParts {
    size_t rootLength;
    bool valueUnderRoot;
    size_t keyStart;
    size_t keyLength;
    size_t valueStart;
    size_t valueLength;
};

// Splits ROOT\KEY\\VALUE or ROOT\\VALUE. The value name ends at a "|", and
// spaces (not tabs) at the very end of the path are dropped. True when the
// path has a backslash and, after a KEY, a pair of backslashes. The
// root name is not checked here.
bool SplitRegistryPath(const char* path, RegistryPathParts* parts);

// True when text[0, length) equals name, ASCII letters compared without case.
bool EqualsIgnoringCase(const char* text, size_t length, const char* name);
