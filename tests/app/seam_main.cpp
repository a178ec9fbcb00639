// The program with its test seams: the platform probes answer from
// RAVLOKFIX_TEST_PROBES, and RAVLOKFIX_TEST_OUTCOME ("infection=2,errors=1,
// reboot=1,unchecked=1") presets the outcome values before the run, as the sequence
// would leave them. RAVLOKFIX_TEST_FAULT plants a fault that no step can
// catch at the first probe asked after an infection was found, that is
// inside the step that found it, before the removal: "access_violation" (a
// write through a null pointer) or "stack_smash" (an overrun of a protected
// buffer on the stack). RAVLOKFIX_TEST_STALL=PATH holds the run up at that
// same point (in a report run, at the first probe asked after the
// administrator gate), as a file that another program keeps waiting would:
// it writes "stalled" to PATH and waits until PATH is gone, at most ten
// minutes. RAVLOKFIX_TEST_TIME_LIMIT_MS shortens the run's time limits (see
// probe_seam.h).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/entry.h"
#include "base/outcome.h"
#include "tests/support/probe_seam.h"

namespace {

int Field(const char* text, const char* name) {
    const char* at = strstr(text, name);
    return at != nullptr ? atoi(at + strlen(name)) : 0;
}

const char* plantedFault = nullptr;

__attribute__((noinline)) void OverrunStackBuffer(size_t count) {
    char buffer[16];
    volatile char* at = buffer;
    for (size_t i = 0; i < count; ++i) at[i] = 'x';
}

void FaultOnceInfected(ProbeId /*probe*/) {
    if (GetInfectionState() == 0) return;
    // Once: what runs after the fault asks the probes too.
    SetProbeHook(nullptr);
    if (strcmp(plantedFault, "access_violation") == 0) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    } else if (strcmp(plantedFault, "stack_smash") == 0) {
        volatile size_t length = 64;
        OverrunStackBuffer(length);
    }
}

const char* stallMarker = nullptr;
bool reportRun = false;
bool gatePassed = false;

void Stall() {
    FILE* marker = fopen(stallMarker, "w");
    if (marker == nullptr) return;
    fputs("stalled\n", marker);
    fclose(marker);
    for (int waited = 0; waited < 10 * 60 * 20 && GetFileAttributesA(stallMarker) != INVALID_FILE_ATTRIBUTES;
         ++waited) {
        Sleep(50);
    }
}

void StallOnce(ProbeId probe) {
    if (reportRun ? !gatePassed : GetInfectionState() == 0) {
        gatePassed = gatePassed || probe == ProbeAdmin;
        return;
    }
    // Once: the rest of the run, and other threads, ask the probes too.
    SetProbeHook(nullptr);
    Stall();
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* preset = getenv("RAVLOKFIX_TEST_OUTCOME")) {
        if (const int infection = Field(preset, "infection=")) SetInfectionState(infection);
        for (int i = Field(preset, "errors="); i > 0; --i) AddError();
        for (int i = Field(preset, "reboot="); i > 0; --i) AddRebootNeeded();
        for (int i = Field(preset, "unchecked="); i > 0; --i) AddUnchecked();
    }
    plantedFault = getenv("RAVLOKFIX_TEST_FAULT");
    if (plantedFault != nullptr) SetProbeHook(FaultOnceInfected);
    stallMarker = getenv("RAVLOKFIX_TEST_STALL");
    if (stallMarker != nullptr) {
        for (int i = 1; i < argc; ++i) reportRun = reportRun || _stricmp(argv[i], "/REPORT") == 0;
        SetProbeHook(StallOnce);
    }
    return RavlokfixMain(argc, argv);
}
