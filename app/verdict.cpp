#include "app/verdict.h"

#include <cstdio>

static_assert(RemovalCode::Unchecked == static_cast<RemovalCode>(ReportCode::Unchecked),
              "either run that could not check everything ends with the same code");

namespace {

// The console speaks of one infection, the trace of infections, and only
// the console asks for the restart.
constexpr EndText NothingFound{"No infection found\n", nullptr};
constexpr EndText NotCompleted{"The check could not be completed: see the trace log.\n",
                               "The check could not be completed.\n"};
constexpr EndText RemovalFailed{"Infection was found.  An error occurred in the disinfection process.\n",
                                "Infections were found.  An error occurred in the disinfection process.\n"};
constexpr EndText Removed{"Infection was found and removed\n", "Infections were found and removed.\n"};
constexpr EndText RestartNeeded{"Restarting the computer is needed to complete the disinfection process.\n"
                                "Please restart the computer now.\n",
                                "Restarting the computer is needed to complete the disinfection process.\n"};
constexpr EndText SomeUnchecked{"Some checks could not be made: see the trace log.\n",
                                "Some checks could not be made.\n"};

void Show(RemovalVerdict* verdict, const EndText& text) { verdict->texts[verdict->count++] = &text; }

}  // namespace

RemovalVerdict RemovalVerdictFor(const RunOutcome& outcome, const RunSwitches& switches) {
    RemovalVerdict verdict{RemovalCode::Clean, 0, {}};
    if (switches.silent) return verdict;
    if (outcome.infection == 0) {
        // Nothing found where the tool could look: no verdict on the rest.
        if (outcome.unchecked != 0) {
            Show(&verdict, NotCompleted);
            verdict.code = RemovalCode::Unchecked;
        } else {
            Show(&verdict, NothingFound);
        }
        return verdict;
    }
    if (outcome.errors != 0) {
        Show(&verdict, RemovalFailed);
        verdict.code = RemovalCode::Failed;
    } else {
        Show(&verdict, Removed);
        verdict.code = outcome.reboot != 0 ? RemovalCode::RemovedAtRestart : RemovalCode::Removed;
    }
    if (outcome.reboot != 0) Show(&verdict, RestartNeeded);
    // A file that could not be read may be another copy: the verdict above
    // does not cover it.
    if (outcome.unchecked != 0) Show(&verdict, SomeUnchecked);
    return verdict;
}

ReportCode ReportCodeFor(const ReportTally& tally) {
    if (tally.findings != 0) return ReportCode::Found;
    return tally.unchecked != 0 ? ReportCode::Unchecked : ReportCode::Clean;
}

void FormatReportSummary(const ReportTally& tally, char* summary, size_t size) {
    const ReportCode code = ReportCodeFor(tally);
    const char* uncheckedNote = tally.unchecked != 0 ? " Some checks could not be made: see the trace log." : "";
    if (code == ReportCode::Found && tally.leftovers == tally.findings) {
        // Start-up entries alone are no infection, but the worm's leftovers.
        snprintf(summary, size,
                 "Leftovers of the worm were found: %ld start-up entr%s listed above, which a removal run repairs. "
                 "Nothing was changed.%s",
                 static_cast<long>(tally.leftovers), tally.leftovers == 1 ? "y" : "ies", uncheckedNote);
    } else if (code == ReportCode::Found && tally.leftovers != 0) {
        snprintf(summary, size,
                 "Infection was found: %ld item(s) listed above, %ld of them start-up entries that a removal run "
                 "repairs. Nothing was changed.%s",
                 static_cast<long>(tally.findings), static_cast<long>(tally.leftovers), uncheckedNote);
    } else if (code == ReportCode::Found) {
        snprintf(summary, size, "Infection was found: %ld item(s) listed above. Nothing was changed.%s",
                 static_cast<long>(tally.findings), uncheckedNote);
    } else if (code == ReportCode::Unchecked) {
        snprintf(summary, size, "%s", "The check could not be completed: see the trace log. Nothing was changed.");
    } else {
        snprintf(summary, size, "%s", "No infection found. Nothing was changed.");
    }
}
