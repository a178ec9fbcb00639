// Waits until a process runs the program file at PATH and can be read as a
// process walk reads it. The path is read in UTF-16, so that programs whose
// names the ANSI code page lacks can be waited for too.
//   wait_for_program PATH [milliseconds]   exit code 0 when seen, 1 when not
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cwchar>
#include <vector>

namespace {

bool Running(const wchar_t* wanted) {
    std::vector<DWORD> ids(4096);
    DWORD used = 0;
    if (!EnumProcesses(ids.data(), ids.size() * sizeof(DWORD), &used)) return false;
    for (DWORD i = 0; i < used / sizeof(DWORD); ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process == nullptr) continue;
        HMODULE module;
        DWORD needed = 0;
        wchar_t path[MAX_PATH] = L"";
        const bool match = EnumProcessModules(process, &module, sizeof module, &needed) && needed != 0 &&
                           GetModuleFileNameExW(process, module, path, MAX_PATH) != 0 &&
                           lstrcmpiW(path, wanted) == 0;
        CloseHandle(process);
        if (match) return true;
    }
    return false;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) return 2;
    const DWORD limit = argc > 2 ? wcstoul(argv[2], nullptr, 10) : 30000;
    for (DWORD start = GetTickCount(); GetTickCount() - start < limit; Sleep(50)) {
        if (Running(argv[1])) return 0;
    }
    return 1;
}
