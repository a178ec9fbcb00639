#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "detect/process_enum.h"
#include "tests/app/trace_capture.h"
#include "tests/detect/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

struct Visit {
    std::string path;
    int32_t reserved;
    uint32_t processId;
};

struct Recorder {
    std::vector<Visit> visits;

    std::map<uint32_t, int> CountById() const {
        std::map<uint32_t, int> counts;
        for (const Visit& v : visits) ++counts[v.processId];
        return counts;
    }
    const Visit* Find(uint32_t processId) const {
        for (const Visit& v : visits) {
            if (v.processId == processId) return &v;
        }
        return nullptr;
    }
};

int32_t Record(const char* path, int32_t reserved, uint32_t processId, uint64_t /*startTime*/, void* context) {
    auto* recorder = static_cast<Recorder*>(context);
    // Bounded copy: a path without its terminator shows up as 260 bytes.
    recorder->visits.push_back({std::string(path, strnlen(path, MAX_PATH + 1)), reserved, processId});
    // Whatever the callback answers, the walk goes on.
    return static_cast<int32_t>(recorder->visits.size() % 3) - 1;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

std::string OwnPath() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    return self;
}

TEST(EnumerateProcesses, EachFamilyVisitsEveryProcessOnce) {
    TempDir dir;
    const std::string childPath = dir / "walk-child.exe";
    ASSERT_TRUE(CopyIdleProgram(childPath));
    ChildProcess child(childPath);
    ASSERT_TRUE(child.running());

    for (int32_t isNt : {1, 0}) {
        SCOPED_TRACE(isNt ? "PSAPI walk" : "toolhelp walk");
        Recorder recorder;
        EXPECT_EQ(EnumerateProcesses(isNt, Record, &recorder), 1);
        for (const auto& [processId, count] : recorder.CountById()) EXPECT_EQ(count, 1) << processId;
        for (const Visit& v : recorder.visits) EXPECT_EQ(v.reserved, 0) << v.path;

        const Visit* own = recorder.Find(GetCurrentProcessId());
        const Visit* started = recorder.Find(child.id());
        ASSERT_NE(own, nullptr);
        ASSERT_NE(started, nullptr);
        if (isNt) {
            EXPECT_EQ(own->path, OwnPath());
            EXPECT_EQ(started->path, childPath);
        } else {
            // Real 9x systems report the full path; Wine only the file name.
            for (const auto& [visit, full] : {std::pair{own, OwnPath()}, std::pair{started, childPath}}) {
                EXPECT_TRUE(visit->path == full || visit->path == BaseName(full)) << visit->path;
            }
        }
    }
}

// Entry points of a walk replaced by the stand-ins below; each stand-in
// calls the real function and then misbehaves the way a busy or odd
// system can.
BOOL(WINAPI* realEnumProcesses)(DWORD*, DWORD, DWORD*) = nullptr;
DWORD listedIds = 0;
std::vector<DWORD> listedLast;

// Lists listedIds ids: ids of no process first, then the real ones, with
// those of listedLast at the very end, as many as fit, reporting the bytes
// written as the real function does.
BOOL WINAPI CrowdedEnumProcesses(DWORD* ids, DWORD size, DWORD* used) {
    std::vector<DWORD> real(4096);
    DWORD realBytes = 0;
    if (!realEnumProcesses(real.data(), real.size() * sizeof(DWORD), &realBytes)) return FALSE;
    real.resize(realBytes / sizeof(DWORD));
    std::erase_if(real, [](DWORD id) { return std::ranges::find(listedLast, id) != listedLast.end(); });
    real.insert(real.end(), listedLast.begin(), listedLast.end());
    std::vector<DWORD> all;
    for (DWORD i = 0; all.size() + real.size() < listedIds; ++i) all.push_back(0x7FFF0000 + 4 * i);
    all.insert(all.end(), real.begin(), real.end());
    const DWORD count = std::min<DWORD>(all.size(), size / sizeof(DWORD));
    memcpy(ids, all.data(), count * sizeof(DWORD));
    *used = count * sizeof(DWORD);
    return TRUE;
}

class CrowdedPsapiWalker : public PsapiProcessEnumerator {
public:
    CrowdedPsapiWalker() {
        realEnumProcesses = enumProcesses;
        if (enumProcesses) enumProcesses = CrowdedEnumProcesses;
    }
};

TEST(PsapiProcessEnumerator, VisitsProcessesBeyondTheFirstThousand) {
    TempDir dir;
    const std::string childPath = dir / "crowd-child.exe";
    ASSERT_TRUE(CopyIdleProgram(childPath));
    ChildProcess child(childPath);
    ASSERT_TRUE(child.running());
    listedLast = {GetCurrentProcessId(), child.id()};

    // The first array filled exactly, one id beyond it, and enough ids to
    // need two larger arrays.
    for (DWORD listed : {1024u, 1025u, 3000u}) {
        SCOPED_TRACE(listed);
        listedIds = listed;
        Recorder recorder;
        CrowdedPsapiWalker walker;
        EXPECT_EQ(walker.Enumerate(Record, &recorder), 1);
        EXPECT_NE(recorder.Find(GetCurrentProcessId()), nullptr);
        EXPECT_NE(recorder.Find(child.id()), nullptr);
        for (const Visit& v : recorder.visits) EXPECT_LT(v.processId, 0x7FFF0000u);
    }
}

// Program paths that fill the whole buffer, with no terminator in it.
DWORD WINAPI FullGetModuleFileNameExA(HANDLE, HMODULE, char* name, DWORD size) {
    memset(name, 'x', size);
    return size;
}

class FullPathPsapiWalker : public PsapiProcessEnumerator {
public:
    FullPathPsapiWalker() {
        if (getModuleFileNameExA) getModuleFileNameExA = FullGetModuleFileNameExA;
    }
};

BOOL(WINAPI* realProcess32First)(HANDLE, PROCESSENTRY32*) = nullptr;
BOOL(WINAPI* realProcess32Next)(HANDLE, PROCESSENTRY32*) = nullptr;

BOOL FillName(BOOL found, PROCESSENTRY32* entry) {
    memset(entry->szExeFile, 'x', sizeof entry->szExeFile);
    return found;
}
BOOL WINAPI FullProcess32First(HANDLE snapshot, PROCESSENTRY32* entry) {
    return FillName(realProcess32First(snapshot, entry), entry);
}
BOOL WINAPI FullProcess32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
    return FillName(realProcess32Next(snapshot, entry), entry);
}

class FullPathToolhelpWalker : public ToolhelpProcessEnumerator {
public:
    FullPathToolhelpWalker() {
        realProcess32First = process32First;
        realProcess32Next = process32Next;
        if (process32First && process32Next) {
            process32First = FullProcess32First;
            process32Next = FullProcess32Next;
        }
    }
};

TEST(ProcessWalkers, PathThatFillsTheBufferIsTerminated) {
    const std::string cut(MAX_PATH - 1, 'x');
    FullPathPsapiWalker psapiWalker;
    FullPathToolhelpWalker toolhelpWalker;
    for (ProcessEnumerator* walker : {static_cast<ProcessEnumerator*>(&psapiWalker),
                                      static_cast<ProcessEnumerator*>(&toolhelpWalker)}) {
        Recorder recorder;
        EXPECT_EQ(walker->Enumerate(Record, &recorder), 1);
        ASSERT_NE(recorder.Find(GetCurrentProcessId()), nullptr);
        for (const Visit& v : recorder.visits) EXPECT_EQ(v.path, cut);
    }
}

// Walks that cannot start: each failing entry point fails with its own error.
BOOL WINAPI RefusedEnumProcesses(DWORD*, DWORD, DWORD*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
HANDLE WINAPI RefusedSnapshot(DWORD, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI EmptySnapshot(HANDLE, PROCESSENTRY32*) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

class RefusingPsapiWalker : public PsapiProcessEnumerator {
public:
    RefusingPsapiWalker() {
        if (enumProcesses) enumProcesses = RefusedEnumProcesses;
    }
};

class RefusingToolhelpWalker : public ToolhelpProcessEnumerator {
public:
    explicit RefusingToolhelpWalker(bool refuseSnapshot) {
        if (refuseSnapshot && createToolhelp32Snapshot) createToolhelp32Snapshot = RefusedSnapshot;
        if (!refuseSnapshot && process32First) process32First = EmptySnapshot;
    }
};

TEST(ProcessWalkers, WalkThatCannotStartSaysWhy) {
    TempDir dir;
    TraceCapture trace(dir / "trace.log");
    RefusingPsapiWalker psapiWalker;
    RefusingToolhelpWalker noSnapshot(true);
    RefusingToolhelpWalker emptySnapshot(false);
    const struct {
        ProcessEnumerator* walker;
        const char* line;
    } cases[] = {
        {&psapiWalker, "Cannot list the processes error=5"},
        {&noSnapshot, "Cannot take a process snapshot error=8"},
        {&emptySnapshot, "Cannot read the process snapshot error=18"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Recorder recorder;
        EXPECT_EQ(c.walker->Enumerate(Record, &recorder), 0);
        EXPECT_TRUE(recorder.visits.empty());
        EXPECT_EQ(trace.Lines(), std::vector<std::string>{c.line});
    }
}

}  // namespace
