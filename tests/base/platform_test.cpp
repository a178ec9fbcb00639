#include <windows.h>

#include <gtest/gtest.h>

#include "base/platform.h"
#include "tests/support/probe_seam.h"

namespace {

class PlatformProbes : public ::testing::Test {
protected:
    void TearDown() override { ResetProbeAnswers(); }
};

// Wine presents the NT family unless a program is given a 9x version, and its
// token always holds the Administrators group.
TEST_F(PlatformProbes, RealAnswersOnWine) {
    ResetProbeAnswers();
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    ASSERT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(IsWindowsNT(), 1);
    EXPECT_EQ(IsWindowsNT(), 1);
    EXPECT_EQ(GetPlatformKind(), PlatformCode(PlatformKind::Nt));
    EXPECT_EQ(IsAdministrator(), 1);
}

TEST_F(PlatformProbes, SeamSubstitutesEachProbeAlone) {
    SetProbeAnswer(ProbeAdmin, 0);
    EXPECT_EQ(IsAdministrator(), 0);
    EXPECT_EQ(IsWindowsNT(), 1);
    SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Win9x));
    EXPECT_EQ(IsWindowsNT(), 0);
    EXPECT_EQ(GetPlatformKind(), PlatformCode(PlatformKind::Win9x));
    ResetProbeAnswers();
    EXPECT_EQ(IsAdministrator(), 1);
    EXPECT_EQ(GetPlatformKind(), PlatformCode(PlatformKind::Nt));
}

}  // namespace
