// The scanner channel where no scanner is installed (the unit machine has
// none), and the setting record. Requests against a driver are covered by the
// end-to-end cases with the stand-in driver.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/platform.h"
#include "scanner/scanner_channel.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"
#include "trace/trace.h"

namespace {

// The trace lines written while a test runs, in a log of its own.
class TraceCapture {
public:
    TraceCapture() { OpenTraceFile(path_.c_str(), "w"); }
    ~TraceCapture() { OpenTraceFile((dir_ / "scratch.log").c_str(), "w"); }
    std::string Text() {
        OpenTraceFile((dir_ / "scratch.log").c_str(), "w");
        return ReadWholeFile(path_);
    }

private:
    TempDir dir_;
    std::string path_ = dir_ / "trace.log";
};

class ScannerChannel : public ::testing::Test {
protected:
    void TearDown() override { ResetProbeAnswers(); }
};

TEST(ScannerSettingRecord, IdentifierTerminatorValueThenZeros) {
    for (const int enabled : {0, 1, 7}) {
        uint8_t record[ScannerSettingRecordSize];
        memset(record, 0xEE, sizeof record);
        BuildScannerSettingRecord(record, enabled);
        uint8_t expected[ScannerSettingRecordSize] = {};
        memcpy(expected, "1.3.6.1.4.1.4217.12.1.111.2.10", 30);
        expected[31] = enabled != 0 ? 1 : 0;
        EXPECT_EQ(0, memcmp(record, expected, sizeof record)) << "enabled=" << enabled;
    }
    // The counted length of the request: identifier and terminator only.
    EXPECT_EQ(sizeof ScannerSettingIdentifier, 31u);
}

TEST_F(ScannerChannel, NtWithoutScannerEachSwitchWritesOneLine) {
    TraceCapture trace;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenScannerDevice().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetScannerEnabled(0);
    SetScannerEnabled(1);
    EXPECT_EQ(SwitchScannerNt(0), 1);
    EXPECT_EQ(trace.Text(), "Cannot open PV error=2\r\nCannot open PV error=2\r\nCannot open PV error=2\r\n");
}

TEST_F(ScannerChannel, NineXDevicesDoNotOpenOnAnNtSystem) {
    // The 9x devices are opened with creation disposition 0, which only the
    // 9x family accepts (Wine's 9x emulation too); an NT system refuses it
    // before it looks for the device.
    SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Win9x));
    TraceCapture trace;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenScannerDevice().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetScannerEnabled(0);
    EXPECT_EQ(ChangeScannerSetting(1), 1);
    EXPECT_EQ(trace.Text(), "Cannot open PV error=87\r\nCannot open PV error=87\r\n");
}


}  // namespace
