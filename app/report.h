// A run that only looks: it finds what a removal run would act on and says
// so, and changes nothing on the machine but the trace log.
#pragma once
#include <cstdint>

#include "app/verdict.h"

// Walks the processes, then every place of the worm's footprint, in the
// removal run's order. Prints and traces each finding and each check that
// could not be made.
void Report_Ravlok(ReportTally* tally);

// The whole report run after the banner: the check, its summary line
// (console unless silent, trace always) and the exit code (0 when silent).
int32_t RunReport(int silent);

// NT family without administrator rights: other users' processes cannot be
// read, so the check is not made. Returns the exit code (0 when silent).
int32_t RefuseReport(int silent);
