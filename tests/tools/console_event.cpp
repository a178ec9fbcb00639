// Starts a program on this program's console, waits until a text shows up in
// a file (a trace log), then sends a console control event to the program's
// process group, as a user pressing Ctrl+C or Ctrl+Break at the console would.
//   console_event c|break FILE TEXT PROGRAM [ARGUMENTS]
// Prints the program's whole exit code as eight hexadecimal digits (Wine hands
// a Unix parent only its low byte).
// Exit code: 0 when the event was sent and the program has ended, 1 when it
// could not be started or the event not sent.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool FileHolds(const char* path, const char* text) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) content.append(chunk, read);
    CloseHandle(file);
    return content.find(text) != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    // Wine 8 sends only Ctrl+C; Ctrl+Break fails there with ERROR_NOT_SUPPORTED.
    const bool breakEvent = strcmp(argv[1], "break") == 0;
    std::string commandLine = std::string("\"") + argv[4] + "\"";
    for (int i = 5; i < argc; ++i) commandLine += std::string(" ") + argv[i];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // A console of the program's own (Wine's stand-in for a terminal takes
    // no events), which this program then shares.
    const DWORD flags = CREATE_NEW_CONSOLE;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        return 1;
    }
    while (!FileHolds(argv[2], argv[3])) {
        if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) return 1;
    }
    FreeConsole();
    if (!AttachConsole(process.dwProcessId)) return 1;
    // The event reaches every process of the console: this one stays.
    SetConsoleCtrlHandler(nullptr, TRUE);
    const BOOL sent = GenerateConsoleCtrlEvent(breakEvent ? CTRL_BREAK_EVENT : CTRL_C_EVENT, 0);
    const bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    DWORD code = 0;
    if (ended && GetExitCodeProcess(process.hProcess, &code)) {
        printf("exit status %08lX\n", static_cast<unsigned long>(code));
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return sent && ended ? 0 : 1;
}
