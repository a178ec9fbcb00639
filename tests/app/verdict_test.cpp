#include "app/verdict.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every end of a removal run: the code, the console's words and the trace's.
TEST(RemovalVerdict, CodeAndTextsFollowTheOutcomeAndSwitches) {
    const char* const nothing = "No infection found\n";
    const char* const removed = "Infection was found and removed\n";
    const char* const failed = "Infection was found.  An error occurred in the disinfection process.\n";
    const char* const restart =
        "Restarting the computer is needed to complete the disinfection process.\nPlease restart the computer now.\n";
    const char* const unchecked = "Some checks could not be made: see the trace log.\n";
    const char* const notCompleted = "The check could not be completed: see the trace log.\n";
    const char* const traceRemoved = "Infections were found and removed.\n";
    const char* const traceFailed = "Infections were found.  An error occurred in the disinfection process.\n";
    const char* const traceRestart = "Restarting the computer is needed to complete the disinfection process.\n";
    const char* const traceUnchecked = "Some checks could not be made.\n";
    const char* const traceNotCompleted = "The check could not be completed.\n";
    const RunSwitches none{0, 0, 0};
    const RunSwitches silent{1, 0, 0};
    const RunSwitches quiet{0, 1, 0};
    const RunSwitches silentAndQuiet{1, 1, 0};

    const struct {
        RunOutcome outcome;  // infection, errors, reboot, unchecked
        RunSwitches switches;
        RemovalCode code;
        std::string console;
        std::string trace;
    } cases[] = {
        {{0, 0, 0, 0}, none, RemovalCode::Clean, nothing, ""},
        // An error with nothing found (a failed system.ini backup) is no verdict.
        {{0, 1, 0, 0}, none, RemovalCode::Clean, nothing, ""},
        // Nothing found where the tool looked, but not everything was looked at.
        {{0, 0, 0, 1}, none, RemovalCode::Unchecked, notCompleted, traceNotCompleted},
        {{0, 1, 1, 2}, none, RemovalCode::Unchecked, notCompleted, traceNotCompleted},
        {{InfectionFound, 0, 0, 0}, none, RemovalCode::Removed, removed, traceRemoved},
        {{InfectionFound, 0, 2, 0}, none, RemovalCode::RemovedAtRestart, std::string(removed) + restart,
         std::string(traceRemoved) + traceRestart},
        {{InfectionFound, 1, 0, 0}, none, RemovalCode::Failed, failed, traceFailed},
        // An error outweighs the restart, whose message still stands.
        {{InfectionFound, 2, 1, 0}, none, RemovalCode::Failed, std::string(failed) + restart,
         std::string(traceFailed) + traceRestart},
        // With an infection, what could not be checked is said after the verdict and leaves its code.
        {{InfectionFound, 0, 0, 1}, none, RemovalCode::Removed, std::string(removed) + unchecked,
         std::string(traceRemoved) + traceUnchecked},
        {{InfectionFound, 1, 1, 3}, none, RemovalCode::Failed, std::string(failed) + restart + unchecked,
         std::string(traceFailed) + traceRestart + traceUnchecked},
        // /SILENT: no outcome at all, and 0 whatever was found.
        {{InfectionFound, 1, 1, 1}, silent, RemovalCode::Clean, "", ""},
        {{0, 0, 0, 1}, silent, RemovalCode::Clean, "", ""},
        // /QUIET keeps the true code, and the trace its lines.
        {{InfectionFound, 0, 1, 0}, quiet, RemovalCode::RemovedAtRestart, std::string(removed) + restart,
         std::string(traceRemoved) + traceRestart},
        {{0, 0, 0, 1}, quiet, RemovalCode::Unchecked, notCompleted, traceNotCompleted},
        {{InfectionFound, 1, 0, 0}, silentAndQuiet, RemovalCode::Clean, "", ""},
    };
    for (const auto& c : cases) {
        const RunOutcome& o = c.outcome;
        SCOPED_TRACE(::testing::Message() << "infection=" << o.infection << " errors=" << o.errors
                                          << " reboot=" << o.reboot << " unchecked=" << o.unchecked
                                          << " silent=" << c.switches.silent << " quiet=" << c.switches.quiet);
        const RemovalVerdict verdict = RemovalVerdictFor(c.outcome, c.switches);
        EXPECT_EQ(verdict.code, c.code);
        std::string console;
        std::string trace;
        for (int i = 0; i < verdict.count; ++i) {
            console += verdict.texts[i]->console;
            if (verdict.texts[i]->trace != nullptr) trace += verdict.texts[i]->trace;
        }
        EXPECT_EQ(console, c.console);
        EXPECT_EQ(trace, c.trace);
    }
}

}  // namespace
