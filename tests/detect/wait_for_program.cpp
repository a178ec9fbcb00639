// Waits until a process runs the program file at PATH and can be read as a
// process walk reads it.
//   wait_for_program PATH [milliseconds]   exit code 0 when seen, 1 when not
#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <vector>

namespace {

bool Running(const char* wanted) {
    std::vector<DWORD> ids(4096);
    DWORD used = 0;
    if (!EnumProcesses(ids.data(), ids.size() * sizeof(DWORD), &used)) return false;
    for (DWORD i = 0; i < used / sizeof(DWORD); ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process == nullptr) continue;
        HMODULE module;
        DWORD needed = 0;
        char path[MAX_PATH] = "";
        const bool match = EnumProcessModules(process, &module, sizeof module, &needed) && needed != 0 &&
                           GetModuleFileNameExA(process, module, path, sizeof path) != 0 &&
                           lstrcmpiA(path, wanted) == 0;
        CloseHandle(process);
        if (match) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const DWORD limit = argc > 2 ? strtoul(argv[2], nullptr, 10) : 30000;
    for (DWORD start = GetTickCount(); GetTickCount() - start < limit; Sleep(50)) {
        if (Running(argv[1])) return 0;
    }
    return 1;
}
