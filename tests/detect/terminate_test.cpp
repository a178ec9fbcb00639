#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/guards.h"
#include "base/outcome.h"
#include "base/platform.h"
#include "detect/terminate.h"
#include "tests/support/child_process.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"
#include "trace/trace.h"

namespace {

constexpr DWORD Absent = 0xFFFFFFFF;

// The attributes of one privilege in this process's token, Absent when the
// token does not hold it.
DWORD PrivilegeAttributes(const char* name) {
    LUID luid;
    UniqueHandle token;
    if (!LookupPrivilegeValueA(nullptr, name, &luid) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return Absent;
    }
    std::vector<char> buffer(4096);
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), buffer.size(), &size)) return Absent;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& held = privileges->Privileges[i].Luid;
        if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart) {
            return privileges->Privileges[i].Attributes;
        }
    }
    return Absent;
}

UniqueHandle OpenOwnToken(DWORD access) {
    UniqueHandle token;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, token.put())) << GetLastError();
    return token;
}

TEST(SetPrivilege, ChangesOnlyTheEnabledBit) {
    UniqueHandle token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    const struct {
        const char* name;
        int32_t enable;
        DWORD attributes;
    } cases[] = {
        {"SeDebugPrivilege", 1, SE_PRIVILEGE_ENABLED},
        {"SeDebugPrivilege", 1, SE_PRIVILEGE_ENABLED},
        {"SeDebugPrivilege", 0, 0},
        {"SeDebugPrivilege", 0, 0},
        // Enabled by default: that bit survives both changes.
        {"SeChangeNotifyPrivilege", 0, SE_PRIVILEGE_ENABLED_BY_DEFAULT},
        {"SeChangeNotifyPrivilege", 1, SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.enable ? " enable" : " disable"));
        SetLastError(0xdeadbeef);
        EXPECT_EQ(SetPrivilege(token.get(), c.name, c.enable), 1);
        EXPECT_EQ(GetLastError(), 0u);
        EXPECT_EQ(PrivilegeAttributes(c.name), c.attributes);
    }
}

TEST(SetPrivilege, FailureLeavesTheReasonAndThePrivilege) {
    UniqueHandle full = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    UniqueHandle queryOnly = OpenOwnToken(TOKEN_QUERY);
    ASSERT_EQ(SetPrivilege(full.get(), "SeDebugPrivilege", 1), 1);
    ASSERT_EQ(PrivilegeAttributes("SeCreateTokenPrivilege"), Absent);
    const struct {
        HANDLE token;
        const char* name;
        DWORD error;
    } cases[] = {
        {full.get(), "SeNoSuchPrivilege", ERROR_NO_SUCH_PRIVILEGE},
        // A privilege that the token lacks: the call succeeds, the last error tells.
        {full.get(), "SeCreateTokenPrivilege", ERROR_NOT_ALL_ASSIGNED},
        {queryOnly.get(), "SeDebugPrivilege", ERROR_ACCESS_DENIED},
        {nullptr, "SeDebugPrivilege", ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(SetPrivilege(c.token, c.name, 0), 0);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(PrivilegeAttributes("SeDebugPrivilege"), static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
        EXPECT_EQ(PrivilegeAttributes("SeCreateTokenPrivilege"), Absent);
    }
    SetPrivilege(full.get(), "SeDebugPrivilege", 0);
}

// Predicates of the tests: plain functions, so their settings live here.
std::vector<std::string> infectedPaths;
std::vector<ChildProcess*> endBeforeTermination;
std::vector<std::string> examinedPaths;
std::vector<DWORD> debugPrivilegeSeen;

// The listed copies are idle programs, not worm copies: their content is not
// checked again before their deletion.
bool AnyContent(HANDLE) { return true; }

RecognitionResult IsListed(const wchar_t* widePath) {
    char narrow[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, widePath, -1, narrow, sizeof narrow, nullptr, nullptr);
    const std::string path = narrow;
    examinedPaths.push_back(path);
    RecognitionResult result;
    result.file.handle.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (result.file.handle) ReadFileIdentity(result.file.handle.get(), &result.file.identity);
    debugPrivilegeSeen.push_back(PrivilegeAttributes("SeDebugPrivilege"));
    if (std::ranges::find(infectedPaths, path) == infectedPaths.end()) {
        result.verdict = Recognition::NotWorm;
        result.file.handle.reset();
        return result;
    }
    // The first listed copy visited ends before the driver can open it.
    if (!endBeforeTermination.empty()) {
        for (ChildProcess* child : endBeforeTermination) {
            if (child->path() == path) child->EndAndForget();
        }
        endBeforeTermination.clear();
    }
    result.verdict = Recognition::Worm;
    return result;
}

std::string Hex(DWORD value) {
    char text[16];
    snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class Termination : public testing::Test {
protected:
    void SetUp() override {
        infectedPaths.clear();
        endBeforeTermination.clear();
        examinedPaths.clear();
        debugPrivilegeSeen.clear();
        OpenTraceFile(log_.c_str(), "w");
        ResetRunOutcome();
    }
    void TearDown() override {
        ResetProbeAnswers();
        EXPECT_EQ(GetErrorCount(), 0);
        EXPECT_EQ(GetRebootNeeded(), 0);
    }

    std::string StartCopy(const std::string& name) {
        const std::string path = dir_ / name;
        EXPECT_TRUE(CopyIdleProgram(path));
        return path;
    }

    // Closes the log and returns its lines.
    std::vector<std::string> LogLines() {
        OpenTraceFile((dir_ / "scratch.log").c_str(), "w");
        const std::string text = ReadWholeFile(log_);
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }

    TempDir dir_;
    std::string log_ = dir_ / "termination.log";
};

TEST_F(Termination, CleanProcessIsOnlyTraced) {
    ChildProcess child(StartCopy("clean.exe"));
    ASSERT_TRUE(child.running());
    TerminationContext context{IsListed, 0, 1, AnyContent};

    ExamineProcess(Widen(child.path()).c_str(), 0, child.id(), child.StartTime(), &context);

    EXPECT_EQ(LogLines(), std::vector<std::string>{"examinate process " + child.path() + " (PID=" + Hex(child.id()) + ")"});
    EXPECT_EQ(context.found, 0);
    EXPECT_EQ(context.status, 1);
    EXPECT_EQ(GetInfectionState(), 0);
    EXPECT_EQ(child.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

TEST_F(Termination, InfectedProcessIsEndedThenItsFileDeleted) {
    ChildProcess child(StartCopy("infected.exe"));
    ASSERT_TRUE(child.running());
    const std::string& path = child.path();
    infectedPaths = {path};
    TerminationContext context{IsListed, 0, 1, AnyContent};

    const DWORD start = GetTickCount();
    ExamineProcess(Widen(path).c_str(), 0, child.id(), child.StartTime(), &context);
    const DWORD elapsed = GetTickCount() - start;

    EXPECT_EQ(child.WaitForExit(0), 0u);
    EXPECT_FALSE(Exists(path));
    EXPECT_GE(elapsed, 1000u - 16u);  // the clock's granularity
    const std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 4u);
    const std::string pid = " (PID=" + Hex(child.id()) + ")";
    EXPECT_EQ(lines[0], "examinate process " + path + pid);
    EXPECT_EQ(lines[1], "Process " + path + pid + " is infection");
    EXPECT_EQ(lines[2], "Process " + path + " terminated with status 1");
    EXPECT_EQ(lines.back(), "Deleting file \"" + path + "\", result=1");
    EXPECT_EQ(context.found, 1);
    EXPECT_EQ(context.status, 1);
    EXPECT_EQ(GetInfectionState(), InfectionFound);
}

// The copy ended after the walk saw it and its id went to another process:
// that process is left running, and the copy's file is still handled.
TEST_F(Termination, IdThatNamesAnotherProcessNowIsNotEnded) {
    ChildProcess worm(StartCopy("worm.exe"));
    ChildProcess other(StartCopy("other.exe"));
    ASSERT_TRUE(worm.running());
    ASSERT_TRUE(other.running());
    ASSERT_NE(worm.StartTime(), 0u);
    ASSERT_NE(other.StartTime(), worm.StartTime());
    worm.EndAndForget();
    infectedPaths = {worm.path()};
    TerminationContext context{IsListed, 0, 1, AnyContent};

    // The id as if reused: the other process's, with the copy's creation time.
    ExamineProcess(Widen(worm.path()).c_str(), 0, other.id(), worm.StartTime(), &context);

    EXPECT_EQ(other.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(context.found, 1);
    EXPECT_EQ(context.status, 0);
    EXPECT_FALSE(Exists(worm.path()));
    const std::vector<std::string> lines = LogLines();
    EXPECT_NE(std::ranges::find(lines, "Process id " + Hex(other.id()) + " of " + worm.path() +
                                           " names another process now, not terminated"),
              lines.end());
    EXPECT_EQ(std::ranges::count_if(lines, [](const std::string& l) { return l.find("terminated with") != std::string::npos; }), 0);
}

TEST_F(Termination, RefusedTerminationStillDeletesAndKeepsTheSummaryFailed) {
    ChildProcess gone(StartCopy("gone.exe"));
    ChildProcess later(StartCopy("later.exe"));
    ASSERT_TRUE(gone.running());
    ASSERT_TRUE(later.running());
    gone.EndAndForget();
    infectedPaths = {gone.path(), later.path()};
    TerminationContext context{IsListed, 0, 1, AnyContent};

    const DWORD start = GetTickCount();
    ExamineProcess(Widen(gone.path()).c_str(), 0, gone.id(), gone.StartTime(), &context);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(context.found, 1);
    EXPECT_EQ(context.status, 0);
    EXPECT_GE(elapsed, 1000u - 16u);
    EXPECT_FALSE(Exists(gone.path()));

    // A later success does not make the summary good again.
    ExamineProcess(Widen(later.path()).c_str(), 0, later.id(), later.StartTime(), &context);
    EXPECT_EQ(context.status, 0);
    EXPECT_EQ(later.WaitForExit(0), 0u);

    std::vector<std::string> lines = LogLines();
    const auto refused = std::ranges::find(lines, "cannot open infected process " + gone.path() + ", Error=87");
    const auto deleted = std::ranges::find(lines, "Deleting file \"" + gone.path() + "\", result=1");
    EXPECT_LT(refused, deleted);
    EXPECT_NE(deleted, lines.end());
    EXPECT_EQ(std::ranges::count_if(lines, [](const std::string& l) { return l.starts_with("Deleting file"); }), 2);
}

TEST_F(Termination, DebugPrivilegeOnlyDuringTheWalkOnNt) {
    UniqueHandle token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    for (int32_t before : {1, 0}) {
        SCOPED_TRACE(before);
        debugPrivilegeSeen.clear();
        ASSERT_EQ(SetPrivilege(token.get(), "SeDebugPrivilege", before), 1);
        EXPECT_EQ(TerminateInfectedProcesses(IsListed, AnyContent), 1);
        ASSERT_FALSE(debugPrivilegeSeen.empty());
        for (DWORD seen : debugPrivilegeSeen) EXPECT_EQ(seen, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
        EXPECT_EQ(PrivilegeAttributes("SeDebugPrivilege"), 0u);
    }
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(lines.back(), "No infected processes were found");
    EXPECT_EQ(std::ranges::count_if(lines, [](const std::string& l) { return l.starts_with("Cannot"); }), 0);
}

TEST_F(Termination, NinexFamilyWalksWithToolhelpAndLeavesThePrivilege) {
    UniqueHandle token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    ASSERT_EQ(SetPrivilege(token.get(), "SeDebugPrivilege", 1), 1);
    SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Win9x));

    EXPECT_EQ(TerminateInfectedProcesses(IsListed, AnyContent), 1);

    for (DWORD seen : debugPrivilegeSeen) EXPECT_EQ(seen, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
    EXPECT_EQ(PrivilegeAttributes("SeDebugPrivilege"), static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
    // Wine's toolhelp names the program file without its folder, unlike
    // PSAPI: that tells which walk ran.
    EXPECT_NE(std::ranges::find(examinedPaths, "terminate_test.exe"), examinedPaths.end());
    SetPrivilege(token.get(), "SeDebugPrivilege", 0);
}

TEST_F(Termination, OneRefusedTerminationInAWalkMakesTheSummaryNotOk) {
    ChildProcess first(StartCopy("worm-a.exe"));
    ChildProcess second(StartCopy("worm-b.exe"));
    ASSERT_TRUE(first.running());
    ASSERT_TRUE(second.running());
    infectedPaths = {first.path(), second.path()};
    // Whichever the walk meets first has ended by the time it is opened.
    endBeforeTermination = {&first, &second};

    EXPECT_EQ(TerminateInfectedProcesses(IsListed, AnyContent), 0);

    EXPECT_FALSE(Exists(first.path()));
    EXPECT_FALSE(Exists(second.path()));
    ChildProcess& survivor = first.running() ? first : second;
    EXPECT_EQ(survivor.WaitForExit(0), 0u);
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(std::ranges::count_if(lines, [](const std::string& l) { return l.starts_with("cannot open infected"); }),
              1);
    EXPECT_EQ(lines.back(),
              "There were infected proceses, terminated with status =NOT OK, start delete infected process files");
}

}  // namespace
