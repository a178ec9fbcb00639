// A run that only looks: it finds what a removal run would act on and says
// so, and changes nothing on the machine but the trace log.
#pragma once
#include <cstddef>
#include <cstdint>

// Exit codes of a report run, beside the removal run's 0 to 3.
enum class ReportCode : int32_t { Clean = 0, Found = 4, Incomplete = 5 };

struct ReportTally {
    int32_t findings;    // items of the worm found
    int32_t leftovers;   // of those, start-up entries a removal run repairs (no infection by themselves)
    int32_t incomplete;  // checks that could not be made
};

// Walks the processes, then every place of the worm's footprint, in the
// removal run's order. Prints and traces each finding and each check that
// could not be made.
void Report_Ravlok(ReportTally* tally);

// An infection found is the answer even when some checks failed: the
// machine needs a removal run either way.
ReportCode ReportCodeFor(const ReportTally& tally);

// The summary line of a report run, without its console mark.
void FormatReportSummary(const ReportTally& tally, char* summary, size_t size);

// The whole report run after the banner: the check, its summary line
// (console unless silent, trace always) and the exit code (0 when silent).
int32_t RunReport(int silent);

// NT family without administrator rights: other users' processes cannot be
// read, so the check is not made. Returns the exit code (0 when silent).
int32_t RefuseReport(int silent);
