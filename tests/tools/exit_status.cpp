// Runs a program on this program's console and prints its whole exit code
// as eight hexadecimal digits (Wine hands a Unix parent only its low byte).
//   exit_status [--deny-only SID] PROGRAM [ARGUMENTS]
// --deny-only runs it with this process's token in which the group SID (such
// as S-1-5-32-544) is kept for deny-only use, as in a token that UAC
// filtered or a restricted token: the group stays listed, but grants nothing.
// Exit code: 0 when the program ran, 1 when it could not be started.
#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/guards.h"

namespace {

struct LocalFreeOf {
    void operator()(void* memory) const { LocalFree(memory); }
};

// This process's token with the group kept for deny-only use; none when it cannot be made.
UniqueHandle DenyOnlyToken(const char* sid) {
    PSID group = nullptr;
    if (!ConvertStringSidToSidA(sid, &group)) return UniqueHandle();
    const std::unique_ptr<void, LocalFreeOf> groupHeld(group);
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, token.put())) {
        return UniqueHandle();
    }
    SID_AND_ATTRIBUTES denyOnly{group, 0};
    UniqueHandle restricted;
    CreateRestrictedToken(token.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put());
    return restricted;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    UniqueHandle token;
    if (argc > 2 && strcmp(argv[1], "--deny-only") == 0) {
        token = DenyOnlyToken(argv[2]);
        if (!token) return 1;
        first = 3;
    }
    if (argc <= first) return 1;
    std::string commandLine = std::string("\"") + argv[first] + "\"";
    for (int i = first + 1; i < argc; ++i) commandLine += std::string(" ") + argv[i];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // The program's output goes where this one's goes.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started =
        token ? CreateProcessAsUserA(token.get(), nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &process)
              : CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &process);
    if (!started) return 1;
    const UniqueHandle thread(process.hThread);
    const UniqueHandle program(process.hProcess);
    WaitForSingleObject(program.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(program.get(), &code);
    printf("exit status %08lX\n", static_cast<unsigned long>(code));
    return 0;
}
