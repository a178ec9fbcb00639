// Any text as a registry path: the split either refuses it or names parts
// that lie inside the text, in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scanner/registry_path_syntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);  // stops at an embedded NUL when read
    const size_t length = std::strlen(path.c_str());
    RegistryPathParts parts{};
    if (!SplitRegistryPath(path.c_str(), &parts)) return 0;
    const bool inside = parts.rootLength < length && path[parts.rootLength] == '\\' &&
                        parts.keyStart + parts.keyLength <= length && parts.valueStart <= length &&
                        parts.valueStart + parts.valueLength <= length &&
                        (parts.valueUnderRoot ? parts.valueStart == parts.rootLength + 2
                                              : parts.valueStart == parts.keyStart + parts.keyLength + 2);
    if (!inside) abort();
    EqualsIgnoringCase(path.c_str(), parts.rootLength, "HKEY_LOCAL_MACHINE");
    return 0;
}
