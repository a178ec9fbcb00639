#include "tests/support/child_process.h"

#include "detect/process_enum.h"

#include <psapi.h>

#include <string>

bool CopyIdleProgram(const std::string& path) {
    return CopyFileA((TestBinDir() + "idle_program.exe").c_str(), path.c_str(), FALSE) != 0;
}

bool CopyIdleProgram(const std::wstring& path) {
    wchar_t source[MAX_PATH];
    const std::string idle = TestBinDir() + "idle_program.exe";
    return MultiByteToWideChar(CP_ACP, 0, idle.c_str(), -1, source, MAX_PATH) != 0 &&
           CopyFileW(source, path.c_str(), FALSE) != 0;
}

ChildProcess::ChildProcess(const std::string& path) : path_(path) {
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) != 0) Start(wide);
}

ChildProcess::ChildProcess(const std::wstring& path) { Start(path); }

void ChildProcess::Start(const std::wstring& path) {
    std::wstring command = L"\"" + path + L"\" 60000";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
        process_ = {};
        return;
    }
    WaitUntilWalkable();
}

void ChildProcess::WaitUntilWalkable() {
    startTime_ = ProcessStartTime(process_.hProcess);
    for (int i = 0; i < 200; ++i) {
        HMODULE module;
        DWORD needed = 0;
        if (EnumProcessModules(process_.hProcess, &module, sizeof module, &needed) && needed != 0) return;
        Sleep(25);
    }
}

void ChildProcess::EndAndClose() {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_.hProcess = nullptr;
    process_.hThread = nullptr;
}

ChildProcess::~ChildProcess() {
    if (running()) EndAndClose();
}

DWORD ChildProcess::WaitForExit(DWORD milliseconds) {
    DWORD code = STILL_ACTIVE;
    if (running() && WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process_.hProcess, &code);
    }
    return code;
}

void ChildProcess::EndAndForget() {
    if (!running()) return;
    EndAndClose();
    // Wine keeps an ended process's id open for a short while.
    for (int i = 0; i < 400; ++i) {
        HANDLE again = OpenProcess(PROCESS_TERMINATE, FALSE, process_.dwProcessId);
        if (again == nullptr) return;
        CloseHandle(again);
        Sleep(25);
    }
}
