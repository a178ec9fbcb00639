#include "detect/terminate.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "base/guards.h"
#include "base/outcome.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "detect/process_enum.h"
#include "fileops/delete_recognised.h"
#include "fileops/file_target.h"
#include "fileops/replace_result.h"
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

bool RecognisedPaths::Contains(const wchar_t* path) const {
    for (size_t i = 0; i < count_; ++i) {
        if (wcscmp(static_cast<const wchar_t*>(paths_[i].get()), path) == 0) return true;
    }
    return false;
}

void RecognisedPaths::Add(const wchar_t* path) {
    if (count_ == Capacity || Contains(path)) return;
    const size_t bytes = (wcslen(path) + 1) * sizeof(wchar_t);
    UniqueMemory copy(malloc(bytes));
    if (!copy) return;
    memcpy(copy.get(), path, bytes);
    paths_[count_++] = std::move(copy);
}

RunningProgramLook RecogniseRunningProgram(Recogniser recognise, const wchar_t* path, uint32_t processId,
                                           uint64_t startTime) {
    RunningProgramLook look;
    look.walked = path;
    look.recognition = recognise(path);
    // On the 9x family a walk may name only the program's file (Wine's
    // does), which need not lie in this folder: absent tells nothing there.
    if (look.recognition.verdict != Recognition::Absent || !IsWindowsNT()) return look;
    look.recognition.verdict = Recognition::Unchecked;
    look.recognition.error = ERROR_FILE_NOT_FOUND;
    look.recognition.notRead = "it is not where its program started from, and where it lies now cannot be told";
    if (!CurrentProgramPath(processId, startTime, look.moved, CurrentPathUnits) || wcscmp(look.moved, path) == 0) {
        look.moved[0] = L'\0';
        return look;
    }
    TRACE(TraceDetail, "Process (PID=0x%x) runs %s now\n", processId, ShowPath(look.moved).text);
    RecognitionResult moved = recognise(look.moved);
    if (moved.verdict != Recognition::Absent) look.recognition = std::move(moved);
    return look;
}

int32_t ExamineProcess(const wchar_t* path, int32_t /*reserved*/, uint32_t processId, uint64_t startTime,
                       void* context) {
    auto* termination = static_cast<TerminationContext*>(context);
    TRACE(TraceDetail, "examinate process %s (PID=0x%x)\n", ShowPath(path).text, processId);
    RunningProgramLook look = RecogniseRunningProgram(termination->recognise, path, processId, startTime);
    RecognitionResult& recognition = look.recognition;
    const wchar_t* const where = look.Where();
    // A file already recognised in this walk, whose path now leads elsewhere
    // or nowhere: its process still runs the worm.
    const bool copyOfFound = recognition.verdict != Recognition::Worm && termination->recognised.Contains(path);
    // A program file that is there but cannot be read may be the worm: the
    // run says that it could not check everything.
    if (recognition.verdict == Recognition::Unchecked && !copyOfFound) {
        TraceUnchecked(where, recognition);
        AddUnchecked();
    }
    if (recognition.verdict != Recognition::Worm && !copyOfFound) return 0;
    termination->recognised.Add(path);

    // Every line names the file as an administrator can find it.
    const FileTarget target = TargetOf(where);
    const char* const shown = target.shown.text;
    TRACE(TraceDetail, "Process %s (PID=0x%x) is infection\n", shown, processId);
    SetInfectionState(InfectionFound);
    if (copyOfFound) {
        TRACE(TraceDetail, "Process %s (PID=0x%x) runs a file recognised earlier in this walk\n", shown,
              processId);
    }

    int32_t outcome = 0;
    // The copy may have ended since the walk saw it and its id gone to
    // another process: the creation time tells them apart.
    SetLastError(0xdeadbeef);
    UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | (startTime != 0 ? PROCESS_QUERY_INFORMATION : 0), FALSE, processId));
    if (!process) {
        const DWORD error = GetLastError();
        TRACE(TraceDetail, "cannot open infected process %s, Error=%ld\n", shown, static_cast<long>(error));
        // An id that names no process any more: the copy has ended.
        if (error != ERROR_INVALID_PARAMETER) AddError();
    } else if (startTime != 0 && ProcessStartTime(process.get()) != startTime) {
        TRACE(TraceFailure, "Process id 0x%x of %s names another process now, not terminated\n", processId, shown);
        process.reset();
    } else {
        outcome = TerminateProcess(process.get(), 0) ? 1 : 0;
        TRACE(TraceDetail, "Process %s terminated with status %i\n", shown, outcome);
        // A copy left running keeps the worm on the machine, whatever
        // becomes of its file.
        if (!outcome) AddError();
        process.reset();
    }
    // The file is still tried when the process could not be ended: a copy
    // in use is then scheduled for the next restart.
    Sleep(ExitWait);

    if (copyOfFound) {
        // Its file went to the removal with the copy that was found first.
        TRACE(TraceDetail, "File %s was handed to the removal with an earlier copy\n", shown);
    } else {
        // The path may lead elsewhere by now (a folder replaced by a link
        // during the wait): only the file recognised goes.
        const ReplaceFileResult result = DeleteRecognisedFile(target, recognition.file, termination->stillInfected, 0);
        TRACE(TraceDetail, "Deleting file \"%s\", result=%d\n", shown, static_cast<int>(result));
        ApplyResultRule(result);
    }

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
    uint32_t notExamined = 0;
    {
        const DebugPrivilegeForWalk privilege(isNt);
        if (isNt && !privilege.tokenOpened) {
            TRACE(TraceDetail, "Cannot open current process %ld\n", privilege.tokenError);
        }
        if (isNt && !privilege.enabled) TRACE(TraceDetail, "Cannot SetPrivilege %ld\n", privilege.privilegeError);
        walked = EnumerateProcesses(isNt, ExamineProcess, &context, &notExamined);
    }
    // Each process the walk could not examine may be a copy.
    for (uint32_t i = 0; i < notExamined; ++i) AddUnchecked();

    // A walk that could not start has looked at nothing: saying that no
    // copy runs would be a guess.
    if (!walked) {
        AddError();
        AddUnchecked();
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
