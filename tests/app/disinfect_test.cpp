#include <gtest/gtest.h>

#include "app/disinfect.h"
#include "base/outcome.h"
#include "tests/support/temp_dir.h"
#include "trace/trace.h"

namespace {

// Wrong arguments: two trace lines and nothing else. Any step that ran would
// leave lines of its own in the log (the scanner switch traces even when no
// scanner is installed).
TEST(DisinfectRavlok, WrongArgumentsRunNoStep) {
    TempDir dir;
    const std::string log = dir / "args.log";
    OpenTraceFile(log.c_str(), "w");

    struct Case {
        int16_t requestCode;
        const char* target;
    } const cases[] = {{0, "*"}, {2, "*"}, {1, nullptr}, {-1, nullptr}};
    std::string expected;
    for (const Case& c : cases) {
        int32_t status = 12345;
        EXPECT_EQ(Disinfect_Ravlok(&status, 0, "Ravlok", 0, c.requestCode, 0, c.target, 0, 0, 0, 0), 0);
        EXPECT_EQ(status, 4);
        expected += "[QRTK - Disinfect_Ravlok]\r\n[QRTK - Disinfect_Ravlok]: Wrong arguments.\r\n";
    }
    OpenTraceFile((dir / "other.log").c_str(), "w");  // closes the first log
    EXPECT_EQ(ReadWholeFile(log), expected);
    EXPECT_EQ(GetInfectionState(), 0);
    EXPECT_EQ(GetErrorCount(), 0);
    EXPECT_EQ(GetRebootNeeded(), 0);
}

}  // namespace
