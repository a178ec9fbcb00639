// Starts COUNT idle processes of the program at PATH and returns once each
// can be read by a process walk; they idle for ten minutes.
//   spawn_idle PATH COUNT
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string path = argv[1];
    const int count = atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        std::string command = "\"" + path + "\" 600000";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            fprintf(stderr, "process %d did not start: %lu\n", i, GetLastError());
            return 1;
        }
        HMODULE module;
        DWORD needed = 0;
        for (int tries = 0; tries < 400 && !(EnumProcessModules(process.hProcess, &module, sizeof module, &needed) &&
                                             needed != 0);
             ++tries) {
            Sleep(10);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return 0;
}
