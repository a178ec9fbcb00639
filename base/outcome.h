// The outcome of a run, one value that the steps fill and the entry point
// reads once at the end, and the error-report hook.
#pragma once
#include <cstdint>

struct RunOutcome {
    int32_t infection = 0;  // InfectionFound once a worm copy was found
    int32_t errors = 0;
    int32_t reboot = 0;  // removals left for the restart
    // Checks that could not be made (a file that is there but cannot be
    // read): not an error of the removal, but no clean result either.
    int32_t unchecked = 0;
};

// The run's one outcome, filled by every step of this process.
RunOutcome& CurrentRunOutcome();
// Starts the outcome afresh, for a process that runs steps more than once.
void ResetRunOutcome();

// Views of the run's outcome under the names the steps use.
void SetInfectionState(int32_t value);
int32_t GetInfectionState();
void AddRebootNeeded();
int32_t GetRebootNeeded();
void AddError();
int32_t GetErrorCount();
void AddUnchecked();
int32_t GetUncheckedCount();

// Error-report hook; has no effect in this program.
int32_t ReportError(int32_t kind, int32_t code, int32_t parameter1, int32_t parameter2, int32_t context);

// What the program tells the hook: every report is of one kind, with the
// code of what failed.
constexpr int32_t ErrorReportKind = 3;
enum class ErrorReportCode : int32_t {
    WrongArguments = 16,         // Disinfect_Ravlok refused its arguments
    DestinationNotRemoved = 20,  // a rename's existing destination could be neither deleted nor scheduled
    RenameFailed = 22,           // a rename could be neither done nor scheduled
    DeletionFailed = 23,         // a deletion could be neither done nor scheduled
};

// The hook with the program's kind, two zero parameters and the caller's
// context.
inline int32_t ReportError(ErrorReportCode code, int32_t context) {
    return ReportError(ErrorReportKind, static_cast<int32_t>(code), 0, 0, context);
}

// Infection state value stored when a worm copy is found.
constexpr int32_t InfectionFound = 2;
