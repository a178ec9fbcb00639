#include "app/report.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/footprint.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "detect/process_enum.h"
#include "detect/signature.h"
#include "detect/terminate.h"
#include "trace/trace.h"

namespace {

// Every line of a report run carries these marks, so that neither its
// console nor its trace can be taken for a removal run's.
#define REPORT_CONSOLE "Report: "
#define REPORT_TAG "[QRTK - Report_Ravlok]: "

// One report line, formatted once: on the console too when asked, and in
// the trace at the level given.
void Say(bool console, int level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
void Say(bool console, int level, const char* format, va_list args) {
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    if (console) {
        printf(REPORT_CONSOLE "%s\n", line);
        fflush(stdout);
    }
    TRACE(level, REPORT_TAG "%s\n", line);
}

// One message for the console and the trace alike.
void Tell(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Tell(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): checked as printf by the declaration
    va_list args;
    va_start(args, format);
    Say(true, TraceDetail, format, args);
    va_end(args);
}

// A check that could not be made: counted, and traced with its reason.
void TellUnchecked(ReportTally* tally, const char* format, ...) __attribute__((format(printf, 2, 3)));
void TellUnchecked(ReportTally* tally, const char* format, ...) {  // NOLINT(cert-dcl50-cpp): as Tell
    ++tally->unchecked;
    va_list args;
    va_start(args, format);
    Say(false, TraceFailure, format, args);
    va_end(args);
}

int32_t ReportProcess(const wchar_t* widePath, int32_t /*reserved*/, uint32_t processId, uint64_t startTime,
                      void* context) {
    auto* tally = static_cast<ReportTally*>(context);
    const RunningProgramLook look = RecogniseRunningProgram(RecogniseFile, widePath, processId, startTime);
    const RecognitionResult& recognition = look.recognition;
    const DisplayedPath shown = ShowPath(look.Where());
    const char* path = shown.text;
    if (recognition.verdict == Recognition::Worm) {
        ++tally->findings;
        Tell("worm process running: %s (PID=0x%x), left running", path, processId);
        return 1;
    }
    if (recognition.verdict == Recognition::Unchecked && recognition.notRead != nullptr) {
        TellUnchecked(tally, "Process %s (PID=0x%x) cannot be checked: %s.", path, processId, recognition.notRead);
        return 0;
    }
    if (recognition.verdict == Recognition::Unchecked) {
        TellUnchecked(tally, "Process %s (PID=0x%x) cannot be checked (error %ld): its program file cannot be read.",
                      path, processId, static_cast<long>(recognition.error));
        return 0;
    }
    TRACE(TraceDetail, REPORT_TAG "Process %s (PID=0x%x) checked.\n", path, processId);
    return 0;
}

void ReportProcesses(ReportTally* tally) {
    const int isNt = IsWindowsNT();
    int32_t walked = 0;
    uint32_t notExamined = 0;
    {
        const DebugPrivilegeForWalk privilege(isNt);
        if (isNt && !privilege.enabled) {
            const DWORD error = privilege.tokenOpened ? privilege.privilegeError : privilege.tokenError;
            TellUnchecked(tally,
                          "The debug privilege cannot be enabled (error %ld): other users' processes may be missed.",
                          static_cast<long>(error));
        }
        walked = EnumerateProcesses(isNt, ReportProcess, tally, &notExamined);
    }
    // The walk traced each process it could not examine, with its reason.
    tally->unchecked += static_cast<int32_t>(notExamined);
    if (!walked) TellUnchecked(tally, "The process list cannot be read: running copies were not checked.");
}

void ReportDroppedFile(const DroppedFilePlace& place, void* context) {
    auto* tally = static_cast<ReportTally*>(context);
    if (place.error != 0) {
        TellUnchecked(tally, "The folder of %s cannot be found (error %ld): it was not checked.", place.name,
                      static_cast<long>(place.error));
        return;
    }
    const RecognitionResult recognition = RecogniseFile(place.widePath);
    switch (recognition.verdict) {
    case Recognition::Worm:
        ++tally->findings;
        Tell("worm file: %s, left in place", place.path);
        break;
    case Recognition::NotWorm:
        TRACE(TraceDetail, REPORT_TAG "File %s is not the worm.\n", place.path);
        break;
    case Recognition::Absent:
        TRACE(TraceDetail, REPORT_TAG "File %s is absent.\n", place.path);
        break;
    case Recognition::Unchecked:
        // Present but unreadable (denied, or held by someone who shares no
        // reading): it may well be the worm.
        if (recognition.notRead != nullptr) {
            TellUnchecked(tally, "File %s is not checked: %s.", place.path, recognition.notRead);
        } else {
            TellUnchecked(tally, "File %s cannot be read (error %ld): it was not checked.", place.path,
                          static_cast<long>(recognition.error));
        }
        break;
    }
}

void ReportShellLine(ReportTally* tally) {
    // The same read as the repair's, so that both see the file, or the
    // registry section that the NT family maps it to.
    const ShellLineFinding shell = FindShellLine();
    if (shell.value[0] == '\0') {
        TRACE(TraceDetail, "%s", REPORT_TAG "system.ini has no shell line.\n");
    } else if (shell.usual) {
        TRACE(TraceDetail, REPORT_TAG "system.ini shell line shell=%s is the usual one.\n", shell.value);
    } else {
        // Any other shell is one that the removal run replaces.
        ++tally->findings;
        ++tally->leftovers;
        Tell("system.ini shell line: shell=%s, left as it is", shell.value);
    }
}

struct ValueToReport {
    ReportTally* tally;
    const StartupValue* value;
};

void ReportStartupValueInView(REGSAM view, void* context) {
    auto* report = static_cast<ValueToReport*>(context);
    ReportTally* tally = report->tally;
    const StartupValue& value = *report->value;
    const StartupValueFinding finding = FindStartupValue(value, view);
    switch (finding.state) {
    case ValueState::KeyAbsent:
        TRACE(TraceDetail, REPORT_TAG "Key %s\\%s is absent.\n", value.rootName, value.keyPath);
        break;
    case ValueState::KeyUnreadable:
        TellUnchecked(tally, "Cannot open key %s\\%s 0x%x: value %s was not checked.", value.rootName, value.keyPath,
                      static_cast<unsigned>(finding.status), value.valueName);
        break;
    case ValueState::ValueAbsent:
        TRACE(TraceDetail, REPORT_TAG "Value %s of %s\\%s is absent.\n", value.valueName, value.rootName,
              value.keyPath);
        break;
    case ValueState::ValueUnreadable:
        TellUnchecked(tally, "Cannot read value %s of %s\\%s 0x%x: it was not checked.", value.valueName,
                      value.rootName, value.keyPath, static_cast<unsigned>(finding.status));
        break;
    case ValueState::Present:
        ++tally->findings;
        ++tally->leftovers;
        if (finding.text) {
            Tell("start-up value: %s\\%s\\%s = %s, left in place", value.rootName, value.keyPath, value.valueName,
                 finding.data);
        } else {
            Tell("start-up value: %s\\%s\\%s (%lu bytes of type %lu), left in place", value.rootName, value.keyPath,
                 value.valueName, static_cast<unsigned long>(finding.size), static_cast<unsigned long>(finding.type));
        }
        break;
    }
}

}  // namespace

void Report_Ravlok(ReportTally* tally) {
    TRACE(TraceDetail, "%s", REPORT_TAG "Report only: nothing on this computer is changed.\n");
    ReportProcesses(tally);
    ForEachDroppedFile(ReportDroppedFile, tally);
    ReportShellLine(tally);
    for (const StartupValue* value = StartupValueTable; value->keyPath != nullptr; ++value) {
        ValueToReport report{tally, value};
        ForEachRegistryView(value->root, value->keyPath, ReportStartupValueInView, &report);
    }
}

int32_t RunReport(int silent) {
    ReportTally tally{0, 0, 0};
    Report_Ravlok(&tally);

    char summary[320];
    FormatReportSummary(tally, summary, sizeof summary);
    const ReportCode code = ReportCodeFor(tally);
    if (!silent) printf(REPORT_CONSOLE "%s\n", summary);
    TRACE(TraceDetail, REPORT_TAG "%s\n", summary);
    return silent ? 0 : static_cast<int32_t>(code);
}

int32_t RefuseReport(int silent) {
    if (!silent) {
        printf("%s", REPORT_CONSOLE "The check could not be completed: log on to this workstation with administrator "
                     "rights and run the tool again.\n");
    }
    TRACE(TraceFailure, "%s",
          REPORT_TAG "Not an administrator: other users' processes cannot be read. Nothing was checked.\n");
    return silent ? 0 : static_cast<int32_t>(ReportCode::Unchecked);
}
