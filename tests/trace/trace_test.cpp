#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"
#include "trace/trace.h"

namespace {

// Closes whatever log a test opened by switching to a scratch one.
void CloseLog(const TempDir& dir) { OpenTraceFile((dir / "scratch.log").c_str(), "w"); }

TEST(Trace, FiltersLevelAndMaskAndCutsLongMessages) {
    TempDir dir;
    const std::string log = dir / "filters.log";
    OpenTraceFile(log.c_str(), "w");
    Trace("", -1, 1, "level one\n");
    Trace("", -1, 4, "level four\n");
    Trace("", -1, 255, "level 255\n");
    Trace("", -1, 256, "level 256\n");
    Trace("", 0, 1, "mask zero\n");
    Trace("", 0x10, 1, "%s", "any mask bit\n");
    Trace("", -1, 4, "no line end, ");
    Trace("", -1, 4, "%d\n", 42);
    const std::string longText(1500, 'x');
    Trace("", -1, 4, "%s\n", longText.c_str());
    Trace("", -1, 4, "next\n");
    CloseLog(dir);
    EXPECT_EQ(ReadWholeFile(log), "level one\r\nlevel four\r\nlevel 255\r\nany mask bit\r\nno line end, 42\r\n" +
                                      std::string(1024, 'x') + "next\r\n");
}

TEST(Trace, ReopeningSamePathKeepsFileAndOtherPathClosesIt) {
    TempDir dir;
    const std::string first = dir / "first.log";
    const std::string second = dir / "second.log";
    OpenTraceFile(first.c_str(), "w");
    Trace("", -1, 4, "one\n");
    OpenTraceFile(first.c_str(), "w");  // same path: stays open, no truncation
    Trace("", -1, 4, "two\n");
    // The C runtime opens without delete sharing: while open, no delete.
    EXPECT_FALSE(DeleteFileA(first.c_str()));
    OpenTraceFile(second.c_str(), "w");
    Trace("", -1, 4, "three\n");
    EXPECT_EQ(ReadWholeFile(first), "one\r\ntwo\r\n");
    EXPECT_TRUE(DeleteFileA(first.c_str())) << GetLastError();
    CloseLog(dir);
    EXPECT_EQ(ReadWholeFile(second), "three\r\n");
}

TEST(Trace, UnopenableLogSendsMessagesElsewhere) {
    TempDir dir;
    const std::string good = dir / "good.log";
    OpenTraceFile(good.c_str(), "w");
    Trace("", -1, 4, "kept\n");
    // A folder of that name cannot be opened as a file: the old log is closed
    // and messages go to the debugger output.
    const std::string folder = dir / "folder.log";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    OpenTraceFile(folder.c_str(), "a+");
    Trace("", -1, 4, "lost\n");
    EXPECT_EQ(ReadWholeFile(good), "kept\r\n");
    CloseLog(dir);
}

struct ProbeRun {
    DWORD exitCode;
    bool killed;
};

std::string ProbePath() { return TestBinDir() + "trace_probe.exe"; }

PROCESS_INFORMATION StartProbe(const std::string& mode, const std::string& log) {
    std::string command = "\"" + ProbePath() + "\" " + mode + " \"" + log + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process))
        << GetLastError();
    return process;
}

TEST(TraceProcess, StartupBeforeEntryAndNothingAfterShutdown) {
    TempDir dir;
    const std::string log = dir / "exit.log";
    PROCESS_INFORMATION process = StartProbe("exit", log);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(code, 0u);
    // "before open" went to the debugger output, "after shutdown" nowhere.
    EXPECT_EQ(ReadWholeFile(log), "first\r\nlast\r\n");
}

TEST(TraceProcess, KilledProcessLeavesEveryEarlierMessage) {
    TempDir dir;
    const std::string log = dir / "killed.log";
    PROCESS_INFORMATION process = StartProbe("wait", log);
    for (int i = 0; i < 300 && ReadWholeFile(log) != "first\r\n"; ++i) Sleep(50);
    ASSERT_TRUE(TerminateProcess(process.hProcess, 9));
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(ReadWholeFile(log), "first\r\n");
}

TEST(TraceProcess, BareNameGoesBesideTheProgram) {
    const std::string name = "trace-bare-" + std::to_string(GetCurrentProcessId()) + ".log";
    const std::string beside = TestBinDir() + name;
    DeleteFileA(beside.c_str());
    PROCESS_INFORMATION process = StartProbe("bare", name);
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(ReadWholeFile(beside), "first\r\nlast\r\n");
    DeleteFileA(beside.c_str());
}

}  // namespace
