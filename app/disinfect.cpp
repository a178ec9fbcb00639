#include "app/disinfect.h"

#include <windows.h>

#include <cstdio>

#include "app/dropped_files.h"
#include "app/footprint.h"
#include "app/startup_entries.h"
#include "base/outcome.h"
#include "base/run_end.h"
#include "detect/signature.h"
#include "detect/terminate.h"
#include "scanner/scanner_channel.h"
#include "trace/trace.h"

// The operation each trace line of this file is written under.
#define DISINFECT_NAME "[QRTK - Disinfect_Ravlok]"
#define DISINFECT_TAG DISINFECT_NAME ": "

namespace {

// Whether this run has the scanner's blocking off. Guarded by the run lock,
// which the console control handler, the fault filter and the stack
// protector's end take as well: the blocking goes back on exactly once,
// whatever ends the run.
bool scannerSuspended = false;

void SuspendScanner() {
    const RunLockHeld held;
    // An end that came first has nothing to switch on again after this.
    if (RunIsEnding()) return;
    // Marked first: a request cut short may still have reached the driver.
    scannerSuspended = true;
    SetScannerEnabled(0);
}

void ResumeScanner() {
    const RunLockHeld held;
    if (!scannerSuspended) return;
    scannerSuspended = false;
    SetScannerEnabled(1);
}

// Ctrl+C, Ctrl+Break, a closed console window, log-off or shut-down: once
// the work in progress is done, the machine gets its protection back, then
// the run ends as the event asks. (A kill by TerminateProcess reaches no
// handler: nothing can be done there.)
BOOL WINAPI EndRunOnConsoleEvent(DWORD event) {
    TRACE(TraceFailure, DISINFECT_TAG "Console event %lu ends the run.\n", event);
    EndRunEarly();
    return FALSE;
}

LPTOP_LEVEL_EXCEPTION_FILTER filterBeforeRun = nullptr;

// A fault that no step catches (an access violation, say): the scanner goes
// back on first, then the fault takes its course as it would have (the
// runtime's filter, the system's report), and the process ends with the
// fault's code.
LONG WINAPI EndRunOnFault(EXCEPTION_POINTERS* fault) {
    EndRunEarly();
    TRACE(TraceFailure, DISINFECT_TAG "Fault %08lX ends the run.\n",
          static_cast<unsigned long>(fault->ExceptionRecord->ExceptionCode));
    return filterBeforeRun != nullptr ? filterBeforeRun(fault) : EXCEPTION_CONTINUE_SEARCH;
}

// The walk of the running processes, and the console's line on what it found.
void TerminateAndTell() {
    ProcessScan scan = ProcessScan::NotWalked;
    TerminateInfectedProcesses(RecogniseFile, IsOpenFileInfected, &scan);
    switch (scan) {
    case ProcessScan::NotWalked:
        fputs("Memory could not be checked for infected processes\n", stdout);
        break;
    case ProcessScan::NoneFound:
        fputs("Infected process was not found in memory\n", stdout);
        break;
    case ProcessScan::Found:
        fputs("Infected process was found in memory\n", stdout);
        break;
    }
}

// Memory running out inside a container throws: the step is cut short and
// counted as an error, and the sequence goes on to switch the scanner on.
template <typename Step>
void RunStep(const char* name, Step step) noexcept {
    try {
        step();
    } catch (...) {
        AddError();
        TRACE(TraceFailure, DISINFECT_TAG "Step %s failed.\n", name);
    }
}

}  // namespace

int Disinfect_Ravlok(int32_t* disinfectionStatus, int32_t /*reserved1*/, const char* /*infectionName*/,
                     int32_t /*reserved2*/, int16_t requestCode, int32_t /*reserved3*/,
                     const char* targetSpecification, int32_t /*reserved4*/, int32_t /*reserved5*/,
                     int32_t /*reserved6*/, int32_t errorContext) {
    TRACE(TraceDetail, "%s", DISINFECT_NAME "\n");
    if (requestCode != 1 || targetSpecification == nullptr) {
        TRACE(TraceFailure, "%s", DISINFECT_TAG "Wrong arguments.\n");
        *disinfectionStatus = 4;
        ReportError(ErrorReportCode::WrongArguments, errorContext);
        return 0;
    }

    SetRunEndAction(ResumeScanner);
    SetConsoleCtrlHandler(EndRunOnConsoleEvent, TRUE);
    filterBeforeRun = SetUnhandledExceptionFilter(EndRunOnFault);

    // The scanner stays suspended from before the first file is touched
    // until after the last registry step; no step can end the list early.
    RunStep("SetScannerEnabled", SuspendScanner);
    RunStep("TerminateInfectedProcesses", TerminateAndTell);
    RunStep("RemoveDroppedFiles", RemoveDroppedFiles);
    RunStep("RepairSystemIniShell", RepairSystemIniShell);
    for (const StartupValue* value = StartupValueTable; value->keyPath != nullptr; ++value) {
        RunStep("DeleteStartupValue", [value] { DeleteStartupValue(value->root, value->keyPath, value->valueName); });
    }
    RunStep("SetScannerEnabled", ResumeScanner);

    SetUnhandledExceptionFilter(filterBeforeRun);
    SetConsoleCtrlHandler(EndRunOnConsoleEvent, FALSE);
    SetRunEndAction(nullptr);
    return 1;
}
