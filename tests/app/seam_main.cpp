// The program with its test seams: the platform probes answer from
// RAVLOKFIX_TEST_PROBES, and RAVLOKFIX_TEST_OUTCOME ("infection=2,errors=1,
// reboot=1") presets the outcome values before the run, as the sequence
// would leave them.
#include <cstdlib>
#include <cstring>

#include "app/entry.h"
#include "base/outcome.h"

namespace {

int Field(const char* text, const char* name) {
    const char* at = strstr(text, name);
    return at != nullptr ? atoi(at + strlen(name)) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* preset = getenv("RAVLOKFIX_TEST_OUTCOME")) {
        if (const int infection = Field(preset, "infection=")) SetInfectionState(infection);
        for (int i = Field(preset, "errors="); i > 0; --i) AddError();
        for (int i = Field(preset, "reboot="); i > 0; --i) AddRebootNeeded();
    }
    return RavlokfixMain(argc, argv);
}
