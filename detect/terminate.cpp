#include "detect/terminate.h"

#include "base/guards.h"
#include "base/outcome.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "detect/process_enum.h"
#include "fileops/replace_file.h"
#include "trace/trace.h"

namespace {

// Time for a terminated process to go away and release its program file.
constexpr DWORD ExitWait = 1000;

}  // namespace

int32_t SetPrivilege(HANDLE token, const char* privilegeName, int32_t enable) {
    LUID luid;
    if (!LookupPrivilegeValueA(nullptr, privilegeName, &luid)) return 0;

    // The first call reads the privilege's attributes (clearing them for the
    // moment); the second writes them back with only the enabled bit changed.
    TOKEN_PRIVILEGES request{};
    request.PrivilegeCount = 1;
    request.Privileges[0].Luid = luid;
    request.Privileges[0].Attributes = 0;
    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = sizeof previous;
    BOOL ok = AdjustTokenPrivileges(token, FALSE, &request, sizeof previous, &previous, &previousSize);
    // A privilege that the token lacks succeeds with ERROR_NOT_ALL_ASSIGNED.
    if (!ok || GetLastError() != ERROR_SUCCESS) return 0;

    // An unchanged privilege is not listed, so the entry is filled in here.
    previous.PrivilegeCount = 1;
    previous.Privileges[0].Luid = luid;
    if (enable) {
        previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
    } else {
        previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    }
    ok = AdjustTokenPrivileges(token, FALSE, &previous, previousSize, nullptr, nullptr);
    return ok && GetLastError() == ERROR_SUCCESS ? 1 : 0;
}

int32_t ExamineProcess(const wchar_t* path, int32_t /*reserved*/, uint32_t processId, uint64_t startTime,
                       void* context) {
    auto* termination = static_cast<TerminationContext*>(context);
    // Every line names the file as an administrator can find it.
    const DisplayedPath shown = ShowPath(path);
    TRACE(TraceDetail, "examinate process %s (PID=0x%x)\n", shown.text, processId);
    RecognitionResult recognition = termination->recognise(path);
    // A program file that is there but cannot be read may be the worm: the
    // run says that it could not check everything.
    if (recognition.verdict == Recognition::Unreadable) {
        TraceUnreadable(path, recognition);
        AddUnchecked();
    }
    if (recognition.verdict != Recognition::Worm) return 0;

    TRACE(TraceDetail, "Process %s (PID=0x%x) is infection\n", shown.text, processId);
    SetInfectionState(InfectionFound);

    int32_t outcome = 0;
    // The copy may have ended since the walk saw it and its id gone to
    // another process: the creation time tells them apart.
    UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | (startTime != 0 ? PROCESS_QUERY_INFORMATION : 0), FALSE, processId));
    if (!process) {
        TRACE(TraceDetail, "cannot open infected process %s, Error=%ld\n", shown.text, GetLastError());
    } else if (startTime != 0 && ProcessStartTime(process.get()) != startTime) {
        TRACE(TraceFailure, "Process id 0x%x of %s names another process now, not terminated\n", processId, shown.text);
        process.reset();
    } else {
        outcome = TerminateProcess(process.get(), 0) ? 1 : 0;
        TRACE(TraceDetail, "Process %s terminated with status %i\n", shown.text, outcome);
        process.reset();
    }
    // The file is still tried when the process could not be ended: a copy
    // in use is then scheduled for the next restart.
    Sleep(ExitWait);

    // The path may lead elsewhere by now (a folder replaced by a link during
    // the wait): only the file recognised goes.
    const ReplaceFileResult result = DeleteRecognisedFile(path, recognition.file, termination->stillInfected, 0);
    TRACE(TraceDetail, "Deleting file \"%s\", result=%d\n", shown.text, static_cast<int>(result));
    ApplyResultRule(result);

    termination->found = 1;
    // One copy left running keeps the summary failed, whatever follows.
    termination->status = termination->status && outcome ? 1 : 0;
    return 1;
}

DebugPrivilegeForWalk::DebugPrivilegeForWalk(int isNt) : nt_(isNt != 0) {
    if (!nt_) return;
    tokenOpened = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()) != 0;
    if (!tokenOpened) tokenError = GetLastError();
    enabled = SetPrivilege(token_.get(), "SeDebugPrivilege", 1) != 0;
    if (!enabled) privilegeError = GetLastError();
}

DebugPrivilegeForWalk::~DebugPrivilegeForWalk() {
    // Disabled whatever its state before: the program needs it for the walk alone.
    if (nt_) SetPrivilege(token_.get(), "SeDebugPrivilege", 0);
}

int32_t TerminateInfectedProcesses(Recogniser recognise, ContentCheck stillInfected, ProcessScan* scan) {
    TerminationContext context{recognise, 0, 1, stillInfected};
    const int isNt = IsWindowsNT();
    int32_t walked = 0;
    {
        const DebugPrivilegeForWalk privilege(isNt);
        if (isNt && !privilege.tokenOpened) {
            TRACE(TraceDetail, "Cannot open current process %ld\n", privilege.tokenError);
        }
        if (isNt && !privilege.enabled) TRACE(TraceDetail, "Cannot SetPrivilege %ld\n", privilege.privilegeError);
        walked = EnumerateProcesses(isNt, ExamineProcess, &context);
    }

    // A walk that could not start has looked at nothing: saying that no
    // copy runs would be a guess.
    if (!walked) {
        AddError();
        if (scan != nullptr) *scan = ProcessScan::NotWalked;
        TRACE(TraceFailure, "%s", "The process walk could not start, no process was examined\n");
        return 0;
    }

    if (!context.found) {
        if (scan != nullptr) *scan = ProcessScan::NoneFound;
        TRACE(TraceDetail, "%s", "No infected processes were found\n");
        return 1;
    }
    if (scan != nullptr) *scan = ProcessScan::Found;
    TRACE(TraceDetail,
          "There were infected proceses, terminated with status =%s, start delete infected process files\n",
          context.status ? "OK" : "NOT OK");
    return context.status;
}
