// The end of a run that is cut short: a console event (Ctrl+C, a closed
// console window, log-off, shut-down) ends the process from a thread of its
// own, and a fault ends it wherever it struck. One process-wide lock keeps
// such an end out of work that must finish whole once begun (the swap of a
// file that other programs' pending operations live in, a switch of the
// scanner), and that work from starting once the end has begun.
#pragma once

// The lock itself, taken and released through RunLockHeld.
void EnterRunLock();
void LeaveRunLock();

// Held by work that must finish whole once begun. A thread may take it again
// while it holds it.
struct RunLockHeld {
    RunLockHeld() { EnterRunLock(); }
    ~RunLockHeld() { LeaveRunLock(); }
    RunLockHeld(const RunLockHeld&) = delete;
    RunLockHeld& operator=(const RunLockHeld&) = delete;
};

// True once the run is ending: ask with the lock held, and start nothing that
// must finish whole.
bool RunIsEnding();

// What must still happen when the run is cut short (the scanner switched on
// again); null for nothing. It runs with the lock held, at most once.
void SetRunEndAction(void (*action)());

// Ends the run early, from any thread: waits for the work in progress, keeps
// all later work from starting and runs the end action, once. The caller then
// lets the process end.
void EndRunEarly();

// The exit code of a run that a console event cut short: Windows's own
// default handler ends a process so (STATUS_CONTROL_C_EXIT); Wine's ends it
// with 0, which a deployment tool would read as a clean machine.
constexpr unsigned long InterruptedExitCode = 0xC000013AUL;

// A console event (Ctrl+C, Ctrl+Break, a closed console window, log-off,
// shut-down) ends the run: EndRunEarly, then the process ends with
// InterruptedExitCode, from the event's thread. Returns only when the run has
// already reached its verdict (FinishRun): the run then ends with that.
void EndInterruptedRun();

// From now until the process ends, a console event ends the run through
// EndInterruptedRun.
void EndRunOnConsoleEvents();

// The run has reached its verdict and ends with it: a console event from now
// on leaves the end to the run. When an event has begun to end the run first,
// this does not return: the process ends as the event asked.
void FinishRun();
