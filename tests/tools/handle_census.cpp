// The program's run, with a census of the handles of its process before and
// after: what the run leaves open is what it leaks. GetProcessHandleCount
// answers 0 under Wine; the system's handle table (information class 16)
// lists every handle with its process, and the handle itself tells its type
// and name.
//   handle_census [the program's arguments]
// The census goes to the file that RAVLOK_CENSUS names, one handle a line:
//   before <count>
//   after <count>
//   new <type> <name>     open after the run, not before
//   gone <type> <name>    open before the run, not after
// The exit code is the program's.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/entry.h"

namespace {

// One row of the system's handle table as Wine fills it.
struct HandleEntry {
    ULONG processId;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

struct HandleTable {
    ULONG count;
    HandleEntry handles[1];
};

struct CountedString {
    USHORT length;  // in bytes
    USHORT maximumLength;
    PWSTR buffer;
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

constexpr ULONG SystemHandleInformation = 16;
constexpr ULONG ObjectNameInformation = 1;
constexpr ULONG ObjectTypeInformation = 2;
constexpr LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);

using Handle = std::tuple<USHORT, std::string, std::string>;  // value, type, name

template <typename Function>
Function NtFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

std::string ObjectText(HANDLE handle, ULONG informationClass) {
    static const auto queryObject = NtFunction<QueryObject>("NtQueryObject");
    std::vector<unsigned char> buffer(4096);
    ULONG needed = 0;
    if (queryObject(handle, informationClass, buffer.data(), static_cast<ULONG>(buffer.size()), &needed) != 0) {
        return "?";
    }
    const auto* text = reinterpret_cast<const CountedString*>(buffer.data());
    std::string narrow;
    for (USHORT i = 0; text->buffer != nullptr && i < text->length / sizeof(WCHAR); ++i) {
        const WCHAR c = text->buffer[i];
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow.empty() ? "-" : narrow;
}

std::set<Handle> OwnHandles() {
    static const auto querySystem = NtFunction<QuerySystemInformation>("NtQuerySystemInformation");
    std::vector<unsigned char> buffer(1 << 16);
    ULONG needed = 0;
    LONG status;
    while ((status = querySystem(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                                 &needed)) == InfoLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    std::set<Handle> own;
    if (status != 0) return own;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const DWORD self = GetCurrentProcessId();
    for (ULONG i = 0; i < table->count; ++i) {
        const HandleEntry& entry = table->handles[i];
        if (entry.processId != self) continue;
        const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.handle));
        own.emplace(entry.handle, ObjectText(handle, ObjectTypeInformation), ObjectText(handle, ObjectNameInformation));
    }
    return own;
}

void Report(FILE* out, const char* word, const std::set<Handle>& from, const std::set<Handle>& without) {
    for (const Handle& handle : from) {
        if (without.count(handle) == 0) {
            fprintf(out, "%s %s %s\n", word, std::get<1>(handle).c_str(), std::get<2>(handle).c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* reportPath = getenv("RAVLOK_CENSUS");
    if (reportPath == nullptr) return 100;
    // Wine's debug output opens its mutex once and keeps it for the life of
    // the process, and its profile functions the key of the files mapped to
    // the registry: both belong to the system, not to the run.
    OutputDebugStringA("");
    char unused[2];
    GetPrivateProfileStringA("census", "warm-up", "", unused, sizeof unused, "handle-census.ini");

    const std::set<Handle> before = OwnHandles();
    const int code = RavlokfixMain(argc, argv);
    const std::set<Handle> after = OwnHandles();

    FILE* out = fopen(reportPath, "w");
    if (out == nullptr) return 101;
    fprintf(out, "before %u\nafter %u\n", static_cast<unsigned>(before.size()), static_cast<unsigned>(after.size()));
    Report(out, "new", after, before);
    Report(out, "gone", before, after);
    fclose(out);
    fflush(stdout);
    return code;
}
