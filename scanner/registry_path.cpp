#include "scanner/registry_path.h"

// Placeholders until registry path values land.
const RootKeyEntry RootKeyTable[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {nullptr, nullptr},
};

int ReadRegistryPathValue(void* /*buffer*/, int /*bufferSize*/, const char* /*path*/) { return 4; }
int OpenRegistryPath(const char* /*path*/, HKEY* /*key*/, int* /*keyIsRoot*/, char** /*valueName*/) { return 4; }
