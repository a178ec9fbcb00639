// Runs a program on this program's console with this process's token, in
// which one group is kept for deny-only use, as in a token that UAC filtered
// or a restricted token: the group stays listed, but grants nothing.
//   deny_only_run SID PROGRAM [ARGUMENTS]      (SID such as S-1-5-32-544)
// Exit code: the program's, or 255 when it could not be started.
#include <windows.h>

#include <sddl.h>

#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 255;
    PSID group = nullptr;
    if (!ConvertStringSidToSidA(argv[1], &group)) return 255;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &token)) {
        return 255;
    }
    SID_AND_ATTRIBUTES denyOnly{group, 0};
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(token, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted)) return 255;

    std::string commandLine = std::string("\"") + argv[2] + "\"";
    for (int i = 3; i < argc; ++i) commandLine += std::string(" ") + argv[i];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // The program's output goes where this one's goes.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessAsUserA(restricted, nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &process)) {
        return 255;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(restricted);
    CloseHandle(token);
    LocalFree(group);
    return static_cast<int>(code);
}
