// The least a process scan can do: list the ids, open each process and ask
// for its program's path.
//   scan_baseline REPEATS [image]
// prints "baseline <median ms> <processes named> <quartiles ms> <each run's ms>": through
// PSAPI's module name. With "image" the same through the full image name
// with the limited query right (Vista and later), printed as "image ...".
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/bench/bench_timer.h"

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? atoi(argv[1]) : 9;
    const bool image = argc > 2 && strcmp(argv[2], "image") == 0;
    int named = 0;
    const Timing timing = MeasureMilliseconds(repeats, [&named, image] {
        std::vector<DWORD> ids(4096);
        DWORD used = 0;
        named = 0;
        if (!EnumProcesses(ids.data(), ids.size() * sizeof(DWORD), &used)) return;
        for (DWORD i = 0; i < used / sizeof(DWORD); ++i) {
            HANDLE process = OpenProcess(
                image ? PROCESS_QUERY_LIMITED_INFORMATION : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
            if (process == nullptr) continue;
            if (image) {
                wchar_t path[MAX_PATH];
                DWORD size = MAX_PATH;
                if (QueryFullProcessImageNameW(process, 0, path, &size)) ++named;
            } else {
                char path[MAX_PATH];
                if (GetModuleFileNameExA(process, nullptr, path, sizeof path) != 0) ++named;
            }
            CloseHandle(process);
        }
    });
    PrintTiming(image ? "image" : "baseline", timing, named);
    return 0;
}
