#include "app/disinfect.h"

#include <windows.h>

#include <cstdio>

#include "app/dropped_files.h"
#include "app/footprint.h"
#include "app/startup_entries.h"
#include "base/guards.h"
#include "base/outcome.h"
#include "base/platform.h"
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

// The longest the scanner's blocking stays off. Whoever can hold the run up
// (a program file that the walk opens, kept waiting by another program) could
// otherwise keep the machine unprotected for as long as they like, and past
// the run's end if an administrator then kills it.
constexpr unsigned long ScannerOffLimitMs = 10UL * 60 * 1000;

// Set, under the run lock, when the limit switched the scanner on again.
bool scannerOnByLimit = false;

// The watch over that limit runs on a thread of its own, as the run's own
// thread may be the one held up. It starts suspended, and is let go once the
// blocking is off.
struct ScannerWatch {
    UniqueHandle runDone;  // set when the run is done with the blocking
    UniqueHandle thread;
    unsigned long limitMs = 0;
};

DWORD WINAPI WatchScannerOff(void* context) {
    const auto* watch = static_cast<const ScannerWatch*>(context);
    if (WaitForSingleObject(watch->runDone.get(), watch->limitMs) != WAIT_TIMEOUT) return 0;
    const RunLockHeld held;
    // On again already: by the run itself, or by what cut the run short.
    if (!scannerSuspended) return 0;
    scannerSuspended = false;
    scannerOnByLimit = true;
    SetScannerEnabled(1);
    TRACE(TraceFailure,
          DISINFECT_TAG "The scanner's blocking has been off for %lu ms, its limit, with the run still working: "
                        "it was switched on again.\n",
          watch->limitMs);
    return 0;
}

// False when the watch cannot run: the blocking then stays on.
bool PrepareScannerWatch(ScannerWatch* watch) {
    watch->limitMs = RunTimeLimitMs(ScannerOffLimitMs);
    scannerOnByLimit = false;
    watch->runDone.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    DWORD threadId = 0;  // Windows 95 refuses to start a thread without one
    if (watch->runDone) {
        watch->thread.reset(CreateThread(nullptr, 0, WatchScannerOff, watch, CREATE_SUSPENDED, &threadId));
    }
    if (watch->thread) return true;
    TRACE(TraceFailure, DISINFECT_TAG "The scanner's blocking is left on: its time off cannot be watched (error %lu).\n",
          static_cast<unsigned long>(GetLastError()));
    return false;
}

// The run no longer needs the watch, which ends. A switch by the limit is an
// error of the run: its later steps met the scanner's blocking.
void EndScannerWatch(ScannerWatch* watch) {
    if (!watch->thread) return;
    SetEvent(watch->runDone.get());
    WaitForSingleObject(watch->thread.get(), INFINITE);
    if (scannerOnByLimit) AddError();
}

// Ctrl+C, Ctrl+Break, a closed console window, log-off or shut-down: once
// the work in progress is done, the machine gets its protection back, then
// the process ends with the code of an interrupted run. (A kill by
// TerminateProcess reaches no handler: nothing can be done there.)
BOOL WINAPI EndRunOnConsoleEvent(DWORD event) {
    TRACE(TraceFailure, DISINFECT_TAG "Console event %lu ends the run.\n", event);
    EndInterruptedRun();
    return TRUE;
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
    // until after the last registry step, or its time limit; no step can end
    // the list early.
    ScannerWatch watch;
    if (PrepareScannerWatch(&watch)) {
        RunStep("SetScannerEnabled", SuspendScanner);
        ResumeThread(watch.thread.get());
    }
    RunStep("TerminateInfectedProcesses", TerminateAndTell);
    RunStep("RemoveDroppedFiles", RemoveDroppedFiles);
    RunStep("RepairSystemIniShell", RepairSystemIniShell);
    for (const StartupValue* value = StartupValueTable; value->keyPath != nullptr; ++value) {
        RunStep("DeleteStartupValue", [value] { DeleteStartupValue(value->root, value->keyPath, value->valueName); });
    }
    RunStep("SetScannerEnabled", ResumeScanner);
    EndScannerWatch(&watch);

    SetUnhandledExceptionFilter(filterBeforeRun);
    SetConsoleCtrlHandler(EndRunOnConsoleEvent, FALSE);
    SetRunEndAction(nullptr);
    return 1;
}

int32_t RunRemoval(const RunSwitches& switches) {
    int32_t disinfectionStatus = 0;
    Disinfect_Ravlok(&disinfectionStatus, 0, "Ravlok", 0, 1, 0, "*", 0, 0, 0, 0);
    const RemovalVerdict verdict = RemovalVerdictFor(CurrentRunOutcome(), switches);
    for (int i = 0; i < verdict.count; ++i) {
        const EndText& text = *verdict.texts[i];
        fputs(text.console, stdout);
        if (text.trace != nullptr) TRACE(TraceDetail, "%s", text.trace);
    }
    return static_cast<int32_t>(verdict.code);
}
