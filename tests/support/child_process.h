// Harmless child processes for the process tests: copies of the suite's
// idle_program.exe started under names of the test's choosing.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "tests/support/temp_dir.h"

// Copies idle_program.exe to path; true on success.
bool CopyIdleProgram(const std::string& path);
bool CopyIdleProgram(const std::wstring& path);

class ChildProcess {
public:
    // Starts the program at path (it idles for a minute) and waits until its
    // module list can be read, as a process walk will read it.
    explicit ChildProcess(const std::string& path);
    // The same for a path outside the ANSI code page (path() is then empty).
    explicit ChildProcess(const std::wstring& path);
    // Ends the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return process_.hProcess != nullptr; }
    DWORD id() const { return process_.dwProcessId; }
    const std::string& path() const { return path_; }
    // Its creation time as a process walk reports it.
    uint64_t StartTime() const { return startTime_; }
    // Waits for the child to end and returns its exit code (STILL_ACTIVE
    // when it did not end in time).
    DWORD WaitForExit(DWORD milliseconds = 10000);
    // Ends the child, drops every handle to it and waits until its id can
    // no longer be opened.
    void EndAndForget();

private:
    void Start(const std::wstring& path);
    void WaitUntilWalkable();
    // Ends the child if it still runs and closes its handles.
    void EndAndClose();

    std::string path_;
    PROCESS_INFORMATION process_{};
    uint64_t startTime_ = 0;
};
