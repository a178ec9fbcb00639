#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/disinfect.h"
#include "base/outcome.h"
#include "base/platform.h"
#include "tests/support/holder_process.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_bytes.h"
#include "tests/support/trace_capture.h"
#include "trace/trace.h"

namespace {

// While set, every allocation through operator new fails as it would with
// the memory used up.
bool failAllocations = false;

}  // namespace

void* operator new(size_t size) {
    void* memory = failAllocations ? nullptr : malloc(size != 0 ? size : 1);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}
void operator delete(void* memory) noexcept { free(memory); }
void operator delete(void* memory, size_t) noexcept { free(memory); }

namespace {

// Wrong arguments: two trace lines and nothing else. Any step that ran would
// leave lines of its own in the log (the scanner switch traces even when no
// scanner is installed).
TEST(DisinfectRavlok, WrongArgumentsRunNoStep) {
    ResetRunOutcome();
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

// A step that runs out of memory is cut short and counted; the rest of the
// sequence runs, and the scanner is switched on again (its line is traced
// with no scanner installed).
TEST(DisinfectRavlok, StepOutOfMemoryIsCountedAndTheSequenceGoesOn) {
    TempDir dir;
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 3u);
    const std::string winupdate = std::string(system) + "\\winupdate.exe";
    WriteWholeFile(winupdate, WormRegion(WormSignature0));
    std::vector<std::string> lines;
    ResetRunOutcome();
    {
        // Held, so that its deletion goes to the restart, which allocates.
        HolderProcess holder("file_holder.exe", "\"" + winupdate + "\"");
        ASSERT_TRUE(holder.holding()) << holder.output();
        SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Nt));
        SetProbeAnswer(ProbeAdmin, 1);
        TraceCapture trace(dir / "trace.log");
        int32_t status = 0;
        failAllocations = true;
        const int result = Disinfect_Ravlok(&status, 0, "Ravlok", 0, 1, 0, "*", 0, 0, 0, 0);
        failAllocations = false;
        EXPECT_EQ(result, 1);
        lines = trace.Lines();
        ResetProbeAnswers();
    }
    DeleteFileA(winupdate.c_str());
    EXPECT_EQ(GetErrorCount(), 1);
    const auto failed = std::ranges::find(lines, "[QRTK - Disinfect_Ravlok]: Step RemoveDroppedFiles failed.");
    ASSERT_NE(failed, lines.end());
    // The later steps ran: the shell repair or its backup, the start-up
    // values, and last the scanner.
    EXPECT_NE(std::find_if(failed, lines.end(), [](const std::string& l) { return l.starts_with("Value windowsupdate"); }),
              lines.end());
    EXPECT_EQ(lines.back().rfind("Cannot open PV error=", 0), 0u) << lines.back();
}

}  // namespace
