#include "tests/support/probe_seam.h"

#include <cstdlib>
#include <cstring>

#include "base/platform.h"
#include "base/platform_seam.h"

namespace {

int answers[ProbeCount] = {-1, -1};
bool environmentRead = false;
void (*probeHook)(ProbeId) = nullptr;

void ReadEnvironment() {
    if (environmentRead) return;
    environmentRead = true;
    const char* text = getenv("RAVLOKFIX_TEST_PROBES");
    if (text == nullptr) return;
    static const char* const names[ProbeCount] = {"kind=", "admin="};
    for (int i = 0; i < ProbeCount; ++i) {
        if (const char* at = strstr(text, names[i])) answers[i] = atoi(at + strlen(names[i]));
    }
}

// The override when one is set, else the system's answer.
int Answer(ProbeId probe, int (*system)()) {
    if (probeHook != nullptr) probeHook(probe);
    ReadEnvironment();
    return answers[probe] >= 0 ? answers[probe] : system();
}

}  // namespace

void SetProbeAnswer(ProbeId probe, int answer) {
    ReadEnvironment();
    answers[probe] = answer;
}

void ResetProbeAnswers() {
    environmentRead = true;
    for (int& answer : answers) answer = -1;
}

void SetProbeHook(void (*hook)(ProbeId)) { probeHook = hook; }

int GetPlatformKind() { return Answer(ProbeKind, SystemPlatformKind); }
int IsAdministrator() { return Answer(ProbeAdmin, SystemIsAdministrator); }

unsigned long RunTimeLimitMs(unsigned long limitMs) {
    static const char* const text = getenv("RAVLOKFIX_TEST_TIME_LIMIT_MS");
    if (text == nullptr) return limitMs;
    const unsigned long shortened = strtoul(text, nullptr, 10);
    return shortened < limitMs ? shortened : limitMs;
}
