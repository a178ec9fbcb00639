#include "scanner/registry_path.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/guards.h"
#include "scanner/registry_path_syntax.h"

const RootKeyEntry RootKeyTable[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {nullptr, nullptr},
};

namespace {

char* CopyText(const char* text, size_t length) {
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

}  // namespace

int OpenRegistryPath(const char* path, RegistryPathKey* opened) {
    *opened = RegistryPathKey{};
    UniqueMemory copy(CopyText(path, std::strlen(path)));
    if (!copy) return 100;
    char* text = static_cast<char*>(copy.get());

    RegistryPathParts parts;
    if (!SplitRegistryPath(text, &parts)) return 4;
    const RootKeyEntry* entry = RootKeyTable;
    while (entry->name != nullptr && !EqualsIgnoringCase(text, parts.rootLength, entry->name)) ++entry;
    if (entry->name == nullptr) return 4;

    UniqueRegKey key;
    if (!parts.valueUnderRoot) {
        text[parts.keyStart + parts.keyLength] = '\0';
        if (RegOpenKeyExA(entry->root, text + parts.keyStart, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 1;
    }
    UniqueMemory name(CopyText(text + parts.valueStart, parts.valueLength));
    if (!name) return 100;

    opened->keyIsRoot = parts.valueUnderRoot;
    opened->key = parts.valueUnderRoot ? entry->root : key.get();
    opened->owner = std::move(key);
    opened->valueName = std::move(name);
    return 0;
}

int ReadRegistryPathValue(void* buffer, int bufferSize, const char* path) {
    RegistryPathKey opened;
    const int result = OpenRegistryPath(path, &opened);
    if (result != 0) return result;

    // A negative size must not reach the platform as a huge unsigned length.
    DWORD size = bufferSize > 0 ? static_cast<DWORD>(bufferSize) : 0;
    const LONG status =
        RegQueryValueExA(opened.key, opened.ValueName(), nullptr, nullptr, static_cast<BYTE*>(buffer), &size);
    if (status == ERROR_SUCCESS) return 0;
    return status == ERROR_MORE_DATA ? 3 : 2;
}
