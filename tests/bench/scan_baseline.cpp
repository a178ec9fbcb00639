// The least a process scan can do: list the ids, open each process and ask
// for its program's path.
//   scan_baseline REPEATS   prints "baseline <median ms> <processes named>"
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/bench/bench_timer.h"

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? atoi(argv[1]) : 9;
    int named = 0;
    const double median = MedianMilliseconds(repeats, [&named] {
        std::vector<DWORD> ids(4096);
        DWORD used = 0;
        named = 0;
        if (!EnumProcesses(ids.data(), ids.size() * sizeof(DWORD), &used)) return;
        for (DWORD i = 0; i < used / sizeof(DWORD); ++i) {
            HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
            if (process == nullptr) continue;
            char path[MAX_PATH];
            if (GetModuleFileNameExA(process, nullptr, path, sizeof path) != 0) ++named;
            CloseHandle(process);
        }
    });
    printf("baseline %.3f %d\n", median, named);
    return 0;
}
