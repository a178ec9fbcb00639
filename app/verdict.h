// How a run ends: its exit code and the texts that say what it found, from
// its findings and its switches alone, so that a table of cases pins every
// end of either run. No system call, no output.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/outcome.h"

// The switches that shape a run.
struct RunSwitches {
    int silent;  // no outcome message; the exit code is then 0
    int quiet;   // no console output at all; the exit code is the true one
    int report;  // look and tell, change nothing
};

// One text of a run's end: the console's words, and the trace's (null: the
// console alone).
struct EndText {
    const char* console;
    const char* trace;
};

// Exit codes of a removal run.
enum class RemovalCode : int32_t { Clean = 0, Removed = 1, RemovedAtRestart = 2, Failed = 3, Unchecked = 5 };

// What a removal run shows at its end, in this order, and the code it ends with.
struct RemovalVerdict {
    RemovalCode code;
    int count;
    const EndText* texts[3];
};

RemovalVerdict RemovalVerdictFor(const RunOutcome& outcome, const RunSwitches& switches);

// Exit codes of a report run, beside the removal run's.
enum class ReportCode : int32_t { Clean = 0, Found = 4, Unchecked = 5 };

struct ReportTally {
    int32_t findings;    // items of the worm found
    int32_t leftovers;   // of those, start-up entries a removal run repairs (no infection by themselves)
    int32_t unchecked;   // checks that could not be made
};

// An infection found is the answer even when some checks failed: the
// machine needs a removal run either way.
ReportCode ReportCodeFor(const ReportTally& tally);

// The summary line of a report run, without its console mark.
void FormatReportSummary(const ReportTally& tally, char* summary, size_t size);
