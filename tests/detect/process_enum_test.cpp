#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "detect/process_enum.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/trace_capture.h"

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

struct WideVisit {
    std::wstring path;
    uint32_t processId;
    uint64_t startTime;
};

struct WideRecorder {
    std::vector<WideVisit> visits;

    const WideVisit* Find(uint32_t processId) const {
        for (const WideVisit& v : visits) {
            if (v.processId == processId) return &v;
        }
        return nullptr;
    }
};

int32_t RecordWide(const wchar_t* path, int32_t reserved, uint32_t processId, uint64_t startTime, void* context) {
    EXPECT_EQ(reserved, 0);
    static_cast<WideRecorder*>(context)->visits.push_back({path, processId, startTime});
    return 0;
}

std::string Utf8(const std::wstring& wide) {
    std::string text(4 * wide.size() + 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
    return text.c_str();
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// An idle program started under a name of the test's choosing, in a folder
// of its own.
struct StartedChild {
    explicit StartedChild(const std::string& name) : path(dir / name), copied(CopyIdleProgram(path)), child(path) {}
    TempDir dir;
    std::string path;
    bool copied;
    ChildProcess child;
};

std::string OwnPath() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    return self;
}

TEST(EnumerateProcesses, EachFamilyVisitsEveryProcessOnce) {
    StartedChild program("walk-child.exe");
    ASSERT_TRUE(program.child.running());
    const std::string& childPath = program.path;
    const ChildProcess& child = program.child;

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

// A program in a Cyrillic folder under a Japanese name: the NT family's walk
// hands on its Unicode path, and a walk for ANSI paths the path as the ANSI
// functions give it.
TEST(EnumerateProcesses, NtFamilyReadsPathsOutsideTheCodePage) {
    TempDir dir;
    const std::wstring folder = dir / std::wstring(L"\x0414\x043E\x043C");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring childPath = folder + L"\\\x30D5\x30A1\x30A4\x30EB.exe";
    ASSERT_TRUE(CopyIdleProgram(childPath));
    ChildProcess child(childPath);
    ASSERT_TRUE(child.running());

    WideRecorder wide;
    uint32_t refused = 1;
    EXPECT_EQ(EnumerateProcesses(1, RecordWide, &wide, &refused), 1);
    EXPECT_EQ(refused, 0u);
    const WideVisit* started = wide.Find(child.id());
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(Utf8(started->path), Utf8(childPath));
    EXPECT_EQ(started->startTime, child.StartTime());

    char asSystem[MAX_PATH];
    ASSERT_NE(WideCharToMultiByte(CP_ACP, 0, childPath.c_str(), -1, asSystem, sizeof asSystem, nullptr, nullptr), 0);
    Recorder narrow;
    EXPECT_EQ(EnumerateProcesses(1, Record, &narrow), 1);
    ASSERT_NE(narrow.Find(child.id()), nullptr);
    EXPECT_EQ(narrow.Find(child.id())->path, asSystem);
    EXPECT_NE(narrow.Find(child.id())->path.find('?'), std::string::npos);
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
    StartedChild program("crowd-child.exe");
    ASSERT_TRUE(program.child.running());
    const ChildProcess& child = program.child;
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

// Program paths that fill the whole buffer, with no terminator in it: what
// is left of them could name another file.
DWORD WINAPI FullGetModuleFileNameExW(HANDLE, HMODULE, wchar_t* name, DWORD size) {
    wmemset(name, L'x', size);
    return size;
}
BOOL WINAPI TooLongQueryFullProcessImageNameW(HANDLE, DWORD, wchar_t* name, DWORD* size) {
    wmemset(name, L'x', *size);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
}

class FullPathPsapiWalker : public PsapiProcessEnumerator {
public:
    explicit FullPathPsapiWalker(bool modernSystem) {
        if (modernSystem && queryFullProcessImageNameW) {
            queryFullProcessImageNameW = TooLongQueryFullProcessImageNameW;
        } else {
            queryFullProcessImageNameW = nullptr;
            if (getModuleFileNameExW) getModuleFileNameExW = FullGetModuleFileNameExW;
        }
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

TEST(ProcessWalkers, PathThatFillsTheBufferIsRefusedWithItsReason) {
    TempDir dir;
    TraceCapture trace(dir / "trace.log");
    FullPathPsapiWalker modernWalker(true);
    FullPathPsapiWalker olderWalker(false);
    FullPathToolhelpWalker toolhelpWalker;
    for (ProcessEnumerator* walker : {static_cast<ProcessEnumerator*>(&modernWalker),
                                      static_cast<ProcessEnumerator*>(&olderWalker),
                                      static_cast<ProcessEnumerator*>(&toolhelpWalker)}) {
        Recorder recorder;
        EXPECT_EQ(walker->Enumerate(Record, &recorder), 1);
        EXPECT_TRUE(recorder.visits.empty());
        EXPECT_GT(walker->NotExamined(), 0u);
    }
    // The toolhelp walk's names are short enough to show whole.
    const std::string own = "(PID=0x" + [] {
        char id[16];
        snprintf(id, sizeof id, "%lx", GetCurrentProcessId());
        return std::string(id);
    }() + ") is not examined: it is too long";
    const std::string text = trace.Text();
    EXPECT_NE(text.find("Process " + std::string(MAX_PATH - 1, 'x') + " " + own + "\r\n"), std::string::npos);
}

// The path forms of NT 4.0, 2000 and XP, as GetModuleFileNameExW gives them
// there for the system's own processes: this program is made to look like
// one of them.
const wchar_t* reportedPath = nullptr;
DWORD(WINAPI* realGetModuleFileNameExW)(HANDLE, HMODULE, wchar_t*, DWORD) = nullptr;

DWORD WINAPI NtFormGetModuleFileNameExW(HANDLE process, HMODULE module, wchar_t* name, DWORD size) {
    if (GetProcessId(process) != GetCurrentProcessId()) return realGetModuleFileNameExW(process, module, name, size);
    const size_t length = wcslen(reportedPath);
    if (length >= size) return 0;
    wcscpy(name, reportedPath);
    return static_cast<DWORD>(length);
}

class OlderSystemWalker : public PsapiProcessEnumerator {
public:
    OlderSystemWalker() {
        queryFullProcessImageNameW = nullptr;
        realGetModuleFileNameExW = getModuleFileNameExW;
        if (getModuleFileNameExW) getModuleFileNameExW = NtFormGetModuleFileNameExW;
    }
};

TEST(PsapiProcessEnumerator, NtPathFormsAreTurnedIntoWin32Paths) {
    wchar_t windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring windowsDirectory = windows;
    const struct {
        const wchar_t* reported;
        std::wstring win32;
    } cases[] = {
        {L"\\SystemRoot\\System32\\smss.exe", windowsDirectory + L"\\System32\\smss.exe"},
        {L"\\??\\C:\\WINDOWS\\system32\\csrss.exe", L"C:\\WINDOWS\\system32\\csrss.exe"},
        {L"\\??\\C:\\WINNT\\system32\\winlogon.exe", L"C:\\WINNT\\system32\\winlogon.exe"},
        {L"\\\\?\\C:\\Program Files\\Tool\\tool.exe", L"C:\\Program Files\\Tool\\tool.exe"},
        {L"\\??\\UNC\\server\\share\\w.exe", L"\\\\server\\share\\w.exe"},
        {L"C:\\WINDOWS\\explorer.exe", L"C:\\WINDOWS\\explorer.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.reported));
        reportedPath = c.reported;
        OlderSystemWalker walker;
        WideRecorder recorder;
        EXPECT_EQ(walker.Enumerate(RecordWide, &recorder), 1);
        EXPECT_EQ(walker.NotExamined(), 0u);
        const WideVisit* own = recorder.Find(GetCurrentProcessId());
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(Utf8(own->path), Utf8(c.win32));
    }
}

TEST(PsapiProcessEnumerator, PathOfNoDriveIsTracedNotSkippedSilently) {
    TempDir dir;
    TraceCapture trace(dir / "trace.log");
    reportedPath = L"\\Device\\HarddiskVolume1\\WINDOWS\\\x0414.exe";
    OlderSystemWalker walker;
    Recorder recorder;
    EXPECT_EQ(walker.Enumerate(Record, &recorder), 1);
    EXPECT_EQ(recorder.Find(GetCurrentProcessId()), nullptr);
    EXPECT_FALSE(recorder.visits.empty());
    EXPECT_EQ(walker.NotExamined(), 1u);
    char line[256];
    snprintf(line, sizeof line,
             "Process \\Device\\HarddiskVolume1\\WINDOWS\\<U+0414>.exe (PID=0x%lx) is not examined: it names an "
             "object of the system, not a file on a drive or a share",
             GetCurrentProcessId());
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{line});
}

// Where the system has QueryFullProcessImageNameW, the walk asks it, with
// no more than the limited query right, and never reads module lists.
int fullNameCalls = 0;
int moduleNameCalls = 0;
BOOL(WINAPI* realQueryFullProcessImageNameW)(HANDLE, DWORD, wchar_t*, DWORD*) = nullptr;

ACCESS_MASK GrantedAccess(HANDLE handle) {
    struct BasicInformation {
        ULONG attributes;
        ACCESS_MASK grantedAccess;
        ULONG rest[20];
    } information{};
    using NtQueryObjectFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const auto ntQueryObject = reinterpret_cast<NtQueryObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    ULONG length = 0;
    if (ntQueryObject == nullptr || ntQueryObject(handle, 0, &information, sizeof information, &length) != 0) {
        return 0;
    }
    return information.grantedAccess;
}

BOOL WINAPI CountedQueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* name, DWORD* size) {
    ++fullNameCalls;
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(GrantedAccess(process), static_cast<ACCESS_MASK>(PROCESS_QUERY_LIMITED_INFORMATION));
    return realQueryFullProcessImageNameW(process, flags, name, size);
}
DWORD WINAPI CountedGetModuleFileNameExW(HANDLE, HMODULE, wchar_t*, DWORD) {
    ++moduleNameCalls;
    return 0;
}

class CountingWalker : public PsapiProcessEnumerator {
public:
    CountingWalker() {
        realQueryFullProcessImageNameW = queryFullProcessImageNameW;
        if (queryFullProcessImageNameW) queryFullProcessImageNameW = CountedQueryFullProcessImageNameW;
        getModuleFileNameExW = CountedGetModuleFileNameExW;
    }
    bool HasFullName() const { return realQueryFullProcessImageNameW != nullptr; }
};

TEST(PsapiProcessEnumerator, AsksForTheFullImageNameWithTheLimitedRight) {
    StartedChild program("limited-child.exe");
    ASSERT_TRUE(program.child.running());
    const std::string& childPath = program.path;
    const ChildProcess& child = program.child;

    CountingWalker walker;
    if (!walker.HasFullName()) GTEST_SKIP() << "this system lacks QueryFullProcessImageNameW";
    WideRecorder recorder;
    EXPECT_EQ(walker.Enumerate(RecordWide, &recorder), 1);
    EXPECT_EQ(moduleNameCalls, 0);
    EXPECT_GE(fullNameCalls, static_cast<int>(recorder.visits.size()));
    const WideVisit* started = recorder.Find(child.id());
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(Utf8(started->path), childPath);
    // GetProcessTimes answers through the limited right too.
    EXPECT_EQ(started->startTime, child.StartTime());
    EXPECT_NE(started->startTime, 0u);
}

// A process whose program path cannot be read is examined by no one: the
// walk says so, unless the system says the process runs no program file
// (its own processes: System, Registry, Memory Compression) or has ended.
BOOL WINAPI FailingQueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* name, DWORD* size) {
    if (GetProcessId(process) != GetCurrentProcessId()) return realQueryFullProcessImageNameW(process, flags, name, size);
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}
bool emptyImageName = false;
LONG(NTAPI* realNtQueryInformationProcess)(HANDLE, int, void*, ULONG, ULONG*) = nullptr;
LONG NTAPI ImageNameQuery(HANDLE process, int informationClass, void* information, ULONG length, ULONG* returned) {
    const LONG status = realNtQueryInformationProcess(process, informationClass, information, length, returned);
    // ProcessImageFileName: a counted string, empty for a process of no file.
    if (status >= 0 && informationClass == 27 && emptyImageName && GetProcessId(process) == GetCurrentProcessId()) {
        static_cast<USHORT*>(information)[0] = 0;
    }
    return status;
}

class PathlessWalker : public PsapiProcessEnumerator {
public:
    PathlessWalker() {
        realQueryFullProcessImageNameW = queryFullProcessImageNameW;
        realNtQueryInformationProcess = ntQueryInformationProcess;
        if (queryFullProcessImageNameW) queryFullProcessImageNameW = FailingQueryFullProcessImageNameW;
        if (ntQueryInformationProcess) ntQueryInformationProcess = ImageNameQuery;
    }
    bool Usable() const { return realQueryFullProcessImageNameW != nullptr && realNtQueryInformationProcess != nullptr; }
};

TEST(PsapiProcessEnumerator, ProcessWhosePathCannotBeReadIsCountedUnlessItRunsNoFile) {
    for (const bool noFile : {false, true}) {
        SCOPED_TRACE(noFile ? "no program file" : "path unreadable");
        TempDir dir;
        TraceCapture trace(dir / "trace.log");
        emptyImageName = noFile;
        PathlessWalker walker;
        if (!walker.Usable()) GTEST_SKIP() << "this system lacks QueryFullProcessImageNameW";
        WideRecorder recorder;
        EXPECT_EQ(walker.Enumerate(RecordWide, &recorder), 1);
        EXPECT_EQ(recorder.Find(GetCurrentProcessId()), nullptr);
        EXPECT_FALSE(recorder.visits.empty()) << "the other processes are still visited";
        EXPECT_EQ(walker.NotExamined(), noFile ? 0u : 1u);
        char line[128];
        snprintf(line, sizeof line,
                 noFile ? "Process (PID=0x%lx) runs no program file"
                        : "Process (PID=0x%lx) is not examined: its program path cannot be read, error=31",
                 GetCurrentProcessId());
        const std::vector<std::string> lines = trace.Lines();
        EXPECT_NE(std::ranges::find(lines, std::string(line)), lines.end()) << trace.Text();
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
