// Starts COUNT idle processes of the program at PATH and returns once each
// can be read by a process walk; they idle for ten minutes.
//   spawn_idle PATH COUNT                  all of them run PATH itself
//   spawn_idle PATH COUNT FIRST FOLDER     processes FIRST .. FIRST+COUNT-1 of
//     the distinct mix: process k runs copy k/4 of PATH, each copy a program
//     file of its own in a folder of its own under FOLDER, every eighth
//     folder named in Cyrillic (made when first needed)
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring Wide(const char* text) {
    wchar_t wide[MAX_PATH];
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH) != 0 ? wide : L"";
}

// The program file of copy `copy` under folder, made when missing.
std::wstring CopyOf(const std::wstring& program, const std::wstring& folder, int copy) {
    const std::wstring number = std::to_wstring(1000 + copy).substr(1);
    const std::wstring directory = folder + (copy % 8 == 7 ? L"\\\x0414\x043E\x043C " : L"\\p") + number;
    const std::wstring path = directory + L"\\idle" + number + L".exe";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(directory.c_str(), nullptr);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) CopyFileW(program.c_str(), path.c_str(), TRUE);
    return path;
}

bool Start(const std::wstring& path, int index) {
    std::wstring command = L"\"" + path + L"\" 600000";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fprintf(stderr, "process %d did not start: %lu\n", index, GetLastError());
        return false;
    }
    HMODULE module;
    DWORD needed = 0;
    for (int tries = 0;
         tries < 400 && !(EnumProcessModules(process.hProcess, &module, sizeof module, &needed) && needed != 0);
         ++tries) {
        Sleep(10);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) return 2;
    const std::wstring program = Wide(argv[1]);
    const int count = atoi(argv[2]);
    const int first = argc == 5 ? atoi(argv[3]) : 0;
    const std::wstring folder = argc == 5 ? Wide(argv[4]) : L"";
    for (int k = first; k < first + count; ++k) {
        if (!Start(folder.empty() ? program : CopyOf(program, folder, k / 4), k)) return 1;
    }
    return 0;
}
