#include "base/run_end.h"

#include <windows.h>

namespace {

CRITICAL_SECTION runLock;
bool runLockReady = false;
bool runEnding = false;
// The run gives its own verdict; no event ends it any more.
bool runFinished = false;
void (*runEndAction)() = nullptr;

// Made before the entry point runs, so that every thread finds it ready; it
// lives as long as the process, as a handler thread may still take it while
// the process ends.
struct RunLockStartup {
    RunLockStartup() noexcept {
        InitializeCriticalSection(&runLock);
        runLockReady = true;
    }
} runLockStartup;

}  // namespace

void EnterRunLock() {
    if (runLockReady) EnterCriticalSection(&runLock);
}

void LeaveRunLock() {
    if (runLockReady) LeaveCriticalSection(&runLock);
}

bool RunIsEnding() { return runEnding; }

void SetRunEndAction(void (*action)()) {
    const RunLockHeld held;
    runEndAction = action;
}

void EndRunEarly() {
    const RunLockHeld held;
    runEnding = true;
    // Taken before it runs: a fault inside the action, or a second end, does
    // not run it again.
    void (*const action)() = runEndAction;
    runEndAction = nullptr;
    if (action != nullptr) action();
}

static_assert(InterruptedExitCode == STATUS_CONTROL_C_EXIT, "the code Windows's default handler ends with");

namespace {

// The process ends at once, with no code of its own run on the way: the other
// threads may hold locks (the runtime's streams, the trace) that an orderly
// exit would wait for. Every trace line is on disk already.
[[noreturn]] void EndInterrupted() {
    TerminateProcess(GetCurrentProcess(), InterruptedExitCode);
    ExitProcess(InterruptedExitCode);
}

BOOL WINAPI EndRunOnConsoleEvent(DWORD /*event*/) {
    EndInterruptedRun();
    return TRUE;
}

}  // namespace

void EndInterruptedRun() {
    {
        const RunLockHeld held;
        if (runFinished) return;
        EndRunEarly();
    }
    EndInterrupted();
}

void EndRunOnConsoleEvents() { SetConsoleCtrlHandler(EndRunOnConsoleEvent, TRUE); }

void FinishRun() {
    const RunLockHeld held;
    // Begun by an event, whose thread ends the process any moment: the run
    // ends as it asked, whichever thread gets there first.
    if (runEnding) EndInterrupted();
    runFinished = true;
}
