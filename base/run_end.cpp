#include "base/run_end.h"

#include <windows.h>

namespace {

CRITICAL_SECTION runLock;
bool runLockReady = false;
bool runEnding = false;
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
