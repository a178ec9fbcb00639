#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/run_end.h"
#include "fileops/reboot_schedule.h"
#include "base/platform.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"
#include "trace/trace.h"

namespace {

const std::string Tag = "[QRTK - AddFileToAutomaticRenameList]: ";
const std::string SystemIsNt = Tag + "System is NT.";
const std::string UserIsAdmin = Tag + "User is admin.";
const std::string UserIsNotAdmin = Tag + "User is not admin.";
const std::string ExecutedDuringReboot = Tag + "Operation is executed during reboot.";
const std::string CannotBeExecuted = Tag + "Operation cannot be executed during reboot.";
const std::string NoAdminNoScanner = Tag + "No admin rights, no PV -> No renaming at reboot.";
const std::string SystemIsNotNt = Tag + "System is not NT.";
const std::string WillBeExecuted = Tag + "Operation will be executed during reboot.";
const std::string ShortPathFailed = Tag + "GetShortPathName() call failed.";

const char SessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char PendingValue[] = "PendingFileRenameOperations";

// The platform's list of pending delayed moves, as raw bytes; none when absent.
std::optional<std::string> ReadPendingRaw() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    std::optional<std::string> raw;
    if (RegQueryValueExA(key, PendingValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        raw.emplace(size, '\0');
        if (RegQueryValueExA(key, PendingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(raw->data()), &size) !=
            ERROR_SUCCESS) {
            raw.reset();
        } else {
            raw->resize(size);
        }
    }
    RegCloseKey(key);
    return raw;
}

void WritePendingRaw(const std::optional<std::string>& raw) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    if (raw) {
        RegSetValueExA(key, PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(raw->data()),
                       static_cast<DWORD>(raw->size()));
    } else {
        RegDeleteValueA(key, PendingValue);
    }
    RegCloseKey(key);
}

// The pending list as pairs of (source, target) names.
std::vector<std::pair<std::string, std::string>> PendingPairs() {
    std::vector<std::string> names;
    const std::string raw = ReadPendingRaw().value_or("");
    size_t at = 0;
    while (at < raw.size()) {
        const size_t end = raw.find('\0', at);
        names.push_back(raw.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    // A multi-string ends with an empty string of its own.
    while (!names.empty() && names.size() % 2 == 1 && names.back().empty()) names.pop_back();
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i + 1 < names.size(); i += 2) pairs.emplace_back(names[i], names[i + 1]);
    return pairs;
}

std::string ShortForm(const std::string& path) {
    char buffer[MAX_PATH];
    const DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    EXPECT_GT(length, 0u) << path;
    return std::string(buffer, length);
}

std::string WininitPath() {
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\WININIT.INI";
}

// What a save leaves beside the file when it is cut short.
void DeleteSwapLeftovers() {
    DeleteFileA((WininitPath() + ".old").c_str());
    DeleteFileA((WininitPath() + ".new").c_str());
}

// A piece of work on a thread of its own.
class Thread {
public:
    explicit Thread(std::function<void()> work) : work_(std::move(work)) {
        handle_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        EXPECT_NE(handle_, nullptr);
    }
    ~Thread() {
        Ended(INFINITE);
        CloseHandle(handle_);
    }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    bool Ended(DWORD milliseconds) const { return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<Thread*>(self)->work_();
        return 0;
    }
    std::function<void()> work_;
    HANDLE handle_;
};

// Holds the run lock on a thread of its own, as a save does across its
// swap, until released.
class RunLockHolder {
public:
    RunLockHolder() : holder_([this] { Hold(); }) { WaitForSingleObject(taken_, INFINITE); }
    ~RunLockHolder() { Release(); }
    RunLockHolder(const RunLockHolder&) = delete;
    RunLockHolder& operator=(const RunLockHolder&) = delete;
    void Release() { SetEvent(release_); }

private:
    void Hold() {
        const RunLockHeld held;
        SetEvent(taken_);
        WaitForSingleObject(release_, INFINITE);
    }
    HANDLE taken_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Thread holder_;
};

// Long enough for work that does not wait to have ended.
constexpr DWORD BlockedFor = 500;

// Each case writes its own trace log and puts the probes and the machine's
// pending operations back as they were.
class RebootSchedule : public ::testing::Test {
protected:
    void SetUp() override {
        OpenTraceFile(log_.c_str(), "w");
        pending_ = ReadPendingRaw();
        wininit_ = ReadWholeFile(WininitPath());
        DeleteFileA(WininitPath().c_str());
        DeleteSwapLeftovers();
    }
    void TearDown() override {
        ResetProbeAnswers();
        WritePendingRaw(pending_);
        const std::string path = WininitPath();
        RemoveDirectoryA(path.c_str());
        DeleteFileA(path.c_str());
        DeleteSwapLeftovers();
        if (wininit_ != "<missing>") WriteWholeFile(path, wininit_);
    }

    void SeeNt(int administrator) {
        SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Nt));
        SetProbeAnswer(ProbeAdmin, administrator);
    }
    void See9x() {
        SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Win9x));
        SetProbeAnswer(ProbeAdmin, 0);
    }

    // The lines traced so far; closes the log.
    std::vector<std::string> TraceLines() {
        OpenTraceFile((dir_ / "closed.log").c_str(), "w");
        std::vector<std::string> lines;
        const std::string text = ReadWholeFile(log_);
        size_t at = 0;
        for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }

    std::string NewFile(const std::string& name, const std::string& content = "data") {
        const std::string path = dir_ / name;
        WriteWholeFile(path, content);
        return path;
    }

    TempDir dir_;
    const std::string log_ = dir_ / "trace.log";
    std::optional<std::string> pending_;
    std::string wininit_;
};

using Lines = std::vector<std::string>;

TEST_F(RebootSchedule, NtAdministratorSchedulesDelayedMoves) {
    SeeNt(1);
    const std::string doomed = NewFile("doomed file.exe");
    const std::string source = NewFile("source.txt");
    const std::string target = dir_ / "target.txt";
    EXPECT_NE(AddFileToAutomaticRenameList(doomed.c_str(), nullptr), 0);
    EXPECT_NE(AddFileToAutomaticRenameList(source.c_str(), target.c_str()), 0);

    const auto pairs = PendingPairs();
    const std::pair<std::string, std::string> deletion{"\\??\\" + doomed, ""};
    // Replacing an existing target is marked with "!".
    const std::pair<std::string, std::string> rename{"\\??\\" + source, "!\\??\\" + target};
    ASSERT_GE(pairs.size(), 2u);
    EXPECT_EQ(pairs[pairs.size() - 2], deletion);
    EXPECT_EQ(pairs.back(), rename);
    // Nothing happens before the restart.
    EXPECT_EQ(ReadWholeFile(doomed), "data");
    EXPECT_EQ(ReadWholeFile(target), "<missing>");
    EXPECT_EQ(TraceLines(),
              (Lines{SystemIsNt, UserIsAdmin, ExecutedDuringReboot, SystemIsNt, UserIsAdmin, ExecutedDuringReboot}));
}

TEST_F(RebootSchedule, NtAdministratorWhoseDelayedMoveFailsGetsNoOtherMeans) {
    SeeNt(1);
    const size_t before = PendingPairs().size();
    EXPECT_EQ(AddFileToAutomaticRenameList("", nullptr), 0);
    EXPECT_EQ(PendingPairs().size(), before);
    EXPECT_EQ(TraceLines(), (Lines{SystemIsNt, UserIsAdmin, CannotBeExecuted}));
}

// Without administrator rights a deletion is refused without asking for the
// scanner, and a rename is refused when the scanner's service is not loaded.
TEST_F(RebootSchedule, NtNonAdministratorRefusals) {
    SeeNt(0);
    const std::string file = NewFile("in use.exe");
    const auto before = ReadPendingRaw();
    EXPECT_EQ(AddFileToAutomaticRenameList(file.c_str(), nullptr), 0);
    EXPECT_EQ(TraceLines(), (Lines{SystemIsNt, UserIsNotAdmin, NoAdminNoScanner}));

    OpenTraceFile(log_.c_str(), "w");
    EXPECT_EQ(AddFileToAutomaticRenameList(file.c_str(), (dir_ / "renamed.exe").c_str()), 0);
    const Lines lines = TraceLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ((Lines{lines[0], lines[1]}), (Lines{SystemIsNt, UserIsNotAdmin}));
    EXPECT_EQ(lines.back(), NoAdminNoScanner);

    EXPECT_EQ(ReadPendingRaw(), before);
    EXPECT_EQ(ReadWholeFile(file), "data");
    EXPECT_EQ(ReadWholeFile(dir_ / "renamed.exe"), "<missing>");
}

TEST_F(RebootSchedule, Win9xDeletionsGoToWininit) {
    See9x();
    const std::string first = NewFile("first long name.exe");
    const std::string second = NewFile("second long name.exe");
    const auto pendingBefore = ReadPendingRaw();
    EXPECT_EQ(AddFileToAutomaticRenameList(first.c_str(), nullptr), 1);
    EXPECT_EQ(ReadWholeFile(WininitPath()), "[rename]\r\nnul=" + ShortForm(first));
    EXPECT_EQ(AddFileToAutomaticRenameList(second.c_str(), nullptr), 1);
    EXPECT_EQ(ReadWholeFile(WininitPath()), "[rename]\r\nnul=" + ShortForm(first) + "\r\nnul=" + ShortForm(second));
    EXPECT_NE(ShortForm(first), first);

    EXPECT_EQ(ReadWholeFile(first), "data");
    EXPECT_EQ(ReadPendingRaw(), pendingBefore);
    EXPECT_EQ(TraceLines(), (Lines{SystemIsNotNt, WillBeExecuted, SystemIsNotNt, WillBeExecuted}));
}

TEST_F(RebootSchedule, Win9xEntryJoinsTheSectionWhateverItsCase) {
    See9x();
    const std::string old = "; keep me\r\n[Boot]\r\n  x = 1\r\n[RENAME]\r\nC:\\NEW.EXE=C:\\OLD.EXE\r\n[last]\r\n";
    WriteWholeFile(WininitPath(), old);
    const std::string file = NewFile("f.exe");
    EXPECT_EQ(AddFileToAutomaticRenameList(file.c_str(), nullptr), 1);
    EXPECT_EQ(ReadWholeFile(WininitPath()),
              "; keep me\r\n[Boot]\r\n  x = 1\r\n[RENAME]\r\nC:\\NEW.EXE=C:\\OLD.EXE\r\nnul=" + ShortForm(file) +
                  "\r\n[last]\r\n");
}

TEST_F(RebootSchedule, Win9xRenameOntoAMissingPathLeavesAPlaceholder) {
    See9x();
    const std::string source = NewFile("source long name.exe");
    const std::string target = dir_ / "target long name.exe";
    EXPECT_EQ(AddFileToAutomaticRenameList(source.c_str(), target.c_str()), 1);
    EXPECT_EQ(ReadWholeFile(target), "Delete me!");
    EXPECT_EQ(ReadWholeFile(WininitPath()), "[rename]\r\n" + ShortForm(target) + "=" + ShortForm(source));
    EXPECT_EQ(TraceLines(), (Lines{SystemIsNotNt, "[QRTK - FileExist]: File " + target + " does not exist.",
                                   WillBeExecuted}));
}

TEST_F(RebootSchedule, Win9xRenameOntoAnExistingPathKeepsIt) {
    See9x();
    const std::string source = NewFile("source long name.exe");
    const std::string target = NewFile("target long name.exe", "old target");
    EXPECT_EQ(AddFileToAutomaticRenameList(source.c_str(), target.c_str()), 1);
    EXPECT_EQ(ReadWholeFile(target), "old target");
    EXPECT_EQ(ReadWholeFile(WininitPath()), "[rename]\r\n" + ShortForm(target) + "=" + ShortForm(source));
}

TEST_F(RebootSchedule, Win9xWithoutShortPathSchedulesNothing) {
    See9x();
    const std::string file = NewFile("present.exe");
    struct Case {
        const char* name;
        std::string existing;
        std::optional<std::string> target;
    } const cases[] = {
        {"missing file", dir_ / "missing.exe", std::nullopt},
        {"rename of a missing file", dir_ / "missing.exe", dir_ / "target.exe"},
        {"target in a missing folder", file, dir_ / "no folder\\target.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenTraceFile(log_.c_str(), "w");
        EXPECT_EQ(AddFileToAutomaticRenameList(c.existing.c_str(), c.target ? c.target->c_str() : nullptr), 0);
        const Lines lines = TraceLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines.front(), SystemIsNotNt);
        EXPECT_EQ(lines.back(), ShortPathFailed);
        EXPECT_EQ(lines.size(), c.existing == file ? 3u : 2u);  // the target's existence test
        EXPECT_EQ(ReadWholeFile(WininitPath()), "<missing>");
    }
    // The existing path is converted first: nothing was created for the target.
    EXPECT_EQ(ReadWholeFile(dir_ / "target.exe"), "<missing>");
}

TEST_F(RebootSchedule, Win9xUnwritableWininitFails) {
    See9x();
    const std::string file = NewFile("f.exe");
    ASSERT_TRUE(CreateDirectoryA(WininitPath().c_str(), nullptr));
    EXPECT_EQ(AddFileToAutomaticRenameList(file.c_str(), nullptr), 0);
    EXPECT_EQ(TraceLines(), (Lines{SystemIsNotNt, CannotBeExecuted}));
    EXPECT_NE(GetFileAttributesA(WininitPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// A save cut between its renames left no WININIT.INI: the next schedule
// brings the old file back and adds to it, so that the entries of other
// programs still run at the restart.
TEST_F(RebootSchedule, Win9xScheduleAfterASaveCutShortKeepsTheOldEntries) {
    See9x();
    const std::string others = "[rename]\r\nnul=C:\\OTHER\\A.EXE\r\nC:\\NEW.DLL=C:\\OLD.DLL";
    WriteWholeFile(WininitPath() + ".old", others);
    WriteWholeFile(WininitPath() + ".new", others + "\r\nnul=C:\\CUT.EXE");
    const std::string file = NewFile("f.exe");
    EXPECT_EQ(AddFileToAutomaticRenameList(file.c_str(), nullptr), 1);
    EXPECT_EQ(ReadWholeFile(WininitPath()), others + "\r\nnul=" + ShortForm(file));
    EXPECT_EQ(ReadWholeFile(WininitPath() + ".old"), "<missing>");
    EXPECT_EQ(ReadWholeFile(WininitPath() + ".new"), "<missing>");
}

// Every "nul" line is a deletion some program left pending: a thousand of
// them get one more, and none is overwritten.
TEST_F(RebootSchedule, Win9xDeletionJoinsAThousandOthers) {
    See9x();
    std::string others = "[rename]";
    for (int i = 0; i < 1001; ++i) others += "\r\nnul=C:\\OTHER\\F" + std::to_string(i) + ".EXE";
    WriteWholeFile(WininitPath(), others);
    const std::string file = NewFile("f.exe");
    EXPECT_EQ(AddFileToAutomaticRenameList(file.c_str(), nullptr), 1);
    const std::string after = ReadWholeFile(WininitPath());
    EXPECT_TRUE(after.starts_with(others)) << "an entry of another program was changed";
    EXPECT_EQ(after.substr(std::min(others.size(), after.size())), "\r\nnul=" + ShortForm(file));
}

// The save holds the run lock from the load to the end of its swap: while
// another thread holds it (an end of the run at work), the save waits.
TEST_F(RebootSchedule, Win9xSaveWaitsForTheRunLock) {
    See9x();
    const std::string file = NewFile("f.exe");
    int32_t result = -1;
    RunLockHolder holder;
    const Thread save([&] { result = AddFileToAutomaticRenameList(file.c_str(), nullptr); });
    EXPECT_FALSE(save.Ended(BlockedFor));
    EXPECT_EQ(ReadWholeFile(WininitPath()), "<missing>");
    holder.Release();
    EXPECT_TRUE(save.Ended(INFINITE));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadWholeFile(WininitPath()), "[rename]\r\nnul=" + ShortForm(file));
}

int endActionRuns = 0;
bool saveDone = false;
bool saveDoneWhenTheActionRan = false;

// Ending the run, as the console handler does, while a save holds the lock:
// the end waits for the save, runs its action once, and no save starts after
// it. Ends the process, with 0 when every check held.
[[noreturn]] void EndTheRunDuringASave(const std::string& file) {
    SetRunEndAction([] {
        ++endActionRuns;
        saveDoneWhenTheActionRan = saveDone;
    });
    {
        RunLockHolder save;
        const Thread ending([] { EndRunEarly(); });
        EXPECT_FALSE(ending.Ended(BlockedFor));
        EXPECT_EQ(endActionRuns, 0);
        saveDone = true;
        save.Release();
        EXPECT_TRUE(ending.Ended(INFINITE));
    }
    EXPECT_EQ(endActionRuns, 1);
    EXPECT_TRUE(saveDoneWhenTheActionRan);
    EndRunEarly();
    EXPECT_EQ(endActionRuns, 1);

    EXPECT_EQ(AddFileToAutomaticRenameList(file.c_str(), nullptr), 0);
    EXPECT_EQ(ReadWholeFile(WininitPath()), "<missing>");
    exit(::testing::Test::HasFailure() ? 1 : 0);
}

// In a process of its own: a run once ending stays so.
TEST_F(RebootSchedule, EndingTheRunWaitsForTheSaveAndStartsNoOther) {
    See9x();
    const std::string file = NewFile("f.exe");
    EXPECT_EXIT(EndTheRunDuringASave(file), ::testing::ExitedWithCode(0), "");
}

}  // namespace
