#include "app/verdict.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReportOutcome, CodeAndSummaryFollowWhatWasFound) {
    const struct {
        ReportTally tally;
        ReportCode code;
        const char* summary;
    } cases[] = {
        {{0, 0, 0}, ReportCode::Clean, "No infection found. Nothing was changed."},
        {{0, 0, 2}, ReportCode::Unchecked,
         "The check could not be completed: see the trace log. Nothing was changed."},
        {{3, 0, 0}, ReportCode::Found, "Infection was found: 3 item(s) listed above. Nothing was changed."},
        // Found wins over unchecked: the machine needs a removal run either way.
        {{1, 0, 1}, ReportCode::Found,
         "Infection was found: 1 item(s) listed above. Nothing was changed. Some checks could not be made: see "
         "the trace log."},
        {{6, 3, 0}, ReportCode::Found,
         "Infection was found: 6 item(s) listed above, 3 of them start-up entries that a removal run repairs. "
         "Nothing was changed."},
        // Start-up entries alone are leftovers, not an infection.
        {{1, 1, 0}, ReportCode::Found,
         "Leftovers of the worm were found: 1 start-up entry listed above, which a removal run repairs. Nothing "
         "was changed."},
        {{2, 2, 1}, ReportCode::Found,
         "Leftovers of the worm were found: 2 start-up entries listed above, which a removal run repairs. Nothing "
         "was changed. Some checks could not be made: see the trace log."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        EXPECT_EQ(ReportCodeFor(c.tally), c.code);
        char summary[320];
        FormatReportSummary(c.tally, summary, sizeof summary);
        EXPECT_EQ(std::string(summary), c.summary);
    }
}

}  // namespace
