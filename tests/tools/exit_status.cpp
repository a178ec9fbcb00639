// Runs a program on this program's console and prints its whole exit code
// as eight hexadecimal digits (Wine hands a Unix parent only its low byte).
//   exit_status PROGRAM [ARGUMENTS]
// Exit code: 0 when the program ran, 1 when it could not be started.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    for (int i = 2; i < argc; ++i) commandLine += std::string(" ") + argv[i];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // The program's output goes where this one's goes.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("exit status %08lX\n", static_cast<unsigned long>(code));
    return 0;
}
