#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/startup_entries.h"
#include "base/outcome.h"
#include "tests/support/temp_dir.h"
#include "tests/support/trace_capture.h"

namespace {

// The registry steps, on keys of this test's own under HKEY_CURRENT_USER.
class DeleteStartupValueTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &baseKey_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(baseKey_);
        RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    }

    // Creates a key under the test's own key and sets string values in it.
    void MakeKey(const std::string& sub, const std::vector<std::string>& values) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(baseKey_, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const std::string& name : values)
            RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x.exe"), 6);
        RegCloseKey(key);
    }
    bool HasValue(const std::string& sub, const char* name) {
        return RegGetValueA(baseKey_, sub.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    TempDir dir_;
    TraceCapture trace_{dir_ / "trace.log"};
    const std::string base_ = "Software\\RavlokfixTest-" + std::to_string(GetCurrentProcessId());
    HKEY baseKey_ = nullptr;
};

TEST_F(DeleteStartupValueTest, DeletesOnlyTheNamedValue) {
    MakeKey("Run", {"windowsupdate", "other"});
    MakeKey("Empty", {"other"});
    const std::string run = base_ + "\\Run";
    const std::string empty = base_ + "\\Empty";
    const std::string missing = base_ + "\\Missing";
    ResetRunOutcome();

    DeleteStartupValue(HKEY_CURRENT_USER, run.c_str(), "windowsupdate");
    DeleteStartupValue(HKEY_CURRENT_USER, run.c_str(), "windowsupdate");
    DeleteStartupValue(HKEY_CURRENT_USER, empty.c_str(), "windowsupdate");
    DeleteStartupValue(HKEY_CURRENT_USER, missing.c_str(), "windowsupdate");
    EXPECT_EQ(trace_.Lines(), (std::vector<std::string>{
                               "Value windowsupdate of " + run + " was deleted with status: OK (0x0)",
                               "Value windowsupdate of " + run + " was deleted with status: failed (0x2)",
                               "Value windowsupdate of " + empty + " was deleted with status: failed (0x2)",
                               "Cannot open key " + missing + " 0x2",
                           }));
    EXPECT_FALSE(HasValue("Run", "windowsupdate"));
    EXPECT_TRUE(HasValue("Run", "other"));
    EXPECT_TRUE(HasValue("Empty", "other"));
    EXPECT_EQ(GetErrorCount(), 0);
}

// The limits met here are Wine's: a key name of 256 characters at most
// (Windows: 255), and at most 260 characters in a path handed to the ANSI
// registry calls (Windows takes longer ones). Whatever the limit, the path
// is traced whole and nothing is cut.
TEST_F(DeleteStartupValueTest, KeyPathsAtTheirLimits) {
    const auto ownName = [](size_t length) {
        const std::string head = "RavlokfixTest-" + std::to_string(GetCurrentProcessId()) + "-";
        return head + std::string(length - head.size(), 'n');
    };
    const std::string longestName = ownName(255);
    const std::string tooLongName = ownName(257);
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, longestName.c_str(), "windowsupdate", REG_SZ, "x.exe", 6),
              ERROR_SUCCESS);
    const std::string fullPath = base_ + "\\" + std::string(260 - base_.size() - 1, 'p');
    const std::string overPath = fullPath + "p";
    ASSERT_EQ(RegSetKeyValueA(baseKey_, fullPath.substr(base_.size() + 1).c_str(), "windowsupdate", REG_SZ,
                              "x.exe", 6),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueA(baseKey_, overPath.substr(base_.size() + 1).c_str(), "windowsupdate", REG_SZ,
                              "x.exe", 6),
              ERROR_SUCCESS);

    const struct {
        std::string path;
        std::string line;
    } cases[] = {
        {longestName, "Value windowsupdate of " + longestName + " was deleted with status: OK (0x0)"},
        {tooLongName, "Cannot open key " + tooLongName + " 0x57"},
        {fullPath, "Value windowsupdate of " + fullPath + " was deleted with status: OK (0x0)"},
        {overPath, "Cannot open key " + overPath + " 0xea"},
    };
    for (const auto& c : cases) {
        DeleteStartupValue(HKEY_CURRENT_USER, c.path.c_str(), "windowsupdate");
        EXPECT_EQ(trace_.Lines(), std::vector<std::string>{c.line});
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, longestName.c_str());

    // Far beyond every limit: the trace line is cut at 1024 characters.
    const std::string huge(40000, 'z');
    DeleteStartupValue(HKEY_CURRENT_USER, huge.c_str(), "windowsupdate");
    EXPECT_EQ(trace_.Text(), ("Cannot open key " + huge).substr(0, 1024));
}

// The handle table gives out the lowest free slot first, so a key left open
// by any call moves the next new handle to another slot.
TEST_F(DeleteStartupValueTest, LeavesNoKeyOpen) {
    MakeKey("Run", {});
    const std::string paths[] = {base_ + "\\Run", base_ + "\\Missing"};
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    for (int i = 0; i < 20; ++i)
        for (const std::string& path : paths) DeleteStartupValue(HKEY_CURRENT_USER, path.c_str(), "windowsupdate");
    HANDLE after = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(after);
    EXPECT_EQ(after, probe);
}

}  // namespace
