#include "tests/support/holder_process.h"

#include "base/guards.h"
#include "tests/support/temp_dir.h"

HolderProcess::HolderProcess(const std::string& program, const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
    UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::string command = "\"" + TestBinDir() + program + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process_)) {
        output_ = "cannot start " + command;
        return;
    }
    writer.reset();  // the child's copy alone keeps the pipe open
    char c;
    DWORD got = 0;
    while (ReadFile(readEnd, &c, 1, &got, nullptr) && got == 1 && c != '\n') output_ += c;
    if (!output_.empty() && output_.back() == '\r') output_.pop_back();
    holding_ = output_ == "holding";
}

HolderProcess::~HolderProcess() {
    if (process_.hProcess == nullptr) return;
    TerminateProcess(process_.hProcess, 9);
    WaitForSingleObject(process_.hProcess, 30000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
}
