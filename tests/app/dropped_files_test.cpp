#include "app/dropped_files.h"
#include "base/paths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/outcome.h"
#include "base/platform.h"
#include "tests/support/holder_process.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_bytes.h"
#include "tests/support/trace_capture.h"

namespace {

TEST(AppendDirectorySeparator, OnlyAfterMoreThanThreeCharacters) {
    const struct {
        const char* directory;
        const char* ready;
    } cases[] = {
        {"C:\\", "C:\\"},
        {"C:", "C:"},
        {"", ""},
        {"C:\\W", "C:\\W\\"},
        {"C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SYSTEM32\\"},
    };
    for (const auto& c : cases) {
        char buffer[261];
        strcpy(buffer, c.directory);
        EXPECT_EQ(AppendDirectorySeparator(buffer, sizeof buffer), 1);
        EXPECT_STREQ(buffer, c.ready);
    }
    // Room for the separator and the terminator, or no change at all.
    char full[8] = "C:\\ABCD";
    EXPECT_EQ(AppendDirectorySeparator(full, sizeof full), 0);
    EXPECT_STREQ(full, "C:\\ABCD");
    char fits[9] = "C:\\ABCD";
    EXPECT_EQ(AppendDirectorySeparator(fits, sizeof fits), 1);
    EXPECT_STREQ(fits, "C:\\ABCD\\");
}

// Works on the worm's own names in the system directory of the test machine
// (the test holds the lock for them), in a program of its own so that the
// outcome values start at 0.
class RemoveDroppedFilesTest : public testing::Test {
protected:
    void SetUp() override {
        ResetRunOutcome();
        char directory[MAX_PATH];
        const UINT length = GetSystemDirectoryA(directory, sizeof directory);
        ASSERT_GT(length, 3u);
        winupdate_ = std::string(directory) + "\\winupdate.exe";
        pqonwe_ = std::string(directory) + "\\pqonwe.exe";
        Clear();
        // A scheduler that answers for real refuses deletions on the NT
        // family to a user outside the Administrators group.
        SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Nt));
        SetProbeAnswer(ProbeAdmin, 0);
    }
    void TearDown() override {
        ResetProbeAnswers();
        Clear();
    }
    void Clear() {
        for (const std::string& path : {winupdate_, pqonwe_}) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    // The step's own lines; those of the file operations are tested with them.
    std::vector<std::string> RemovalLines() {
        std::vector<std::string> lines;
        for (const std::string& line : trace_.Lines())
            if (line.rfind("file ", 0) == 0 || line.rfind("Deleting file ", 0) == 0) lines.push_back(line);
        return lines;
    }
    std::string NotInfected(const std::string& path) { return "file " + path + " is not infected or doesn't exit"; }
    // The lines of one walk: the native system directory's, then, in the
    // 64-bit program, those of the (here clean) 32-bit system folder.
    std::vector<std::string> Walk(std::vector<std::string> native) {
#ifdef _WIN64
        char directory[MAX_PATH];
        const UINT length = GetSystemWow64DirectoryA(directory, sizeof directory);
        EXPECT_GT(length, 3u);
        for (const char* name : {"winupdate.exe", "pqonwe.exe"})
            native.push_back(NotInfected(std::string(directory) + "\\" + name));
#endif
        return native;
    }

    TempDir dir_;
    TraceCapture trace_{dir_ / "trace.log"};
    std::string winupdate_;
    std::string pqonwe_;
};

TEST_F(RemoveDroppedFilesTest, RecognisedFilesAreCountedThenRemoved) {
    // A clean machine: one line per name, no outcome.
    RemoveDroppedFiles();
    EXPECT_EQ(RemovalLines(), Walk({NotInfected(winupdate_), NotInfected(pqonwe_)}));
    EXPECT_EQ(GetInfectionState(), 0);

    // Same names, other content: left alone.
    const std::string decoy = "MZ" + TestBytes(7, 20000);
    const std::string shortCopy = WormRegion(WormSignature0).substr(0, 8191);
    WriteWholeFile(winupdate_, decoy);
    WriteWholeFile(pqonwe_, shortCopy);
    RemoveDroppedFiles();
    EXPECT_EQ(RemovalLines(), Walk({NotInfected(winupdate_), NotInfected(pqonwe_)}));
    EXPECT_EQ(GetInfectionState(), 0);
    EXPECT_EQ(ReadWholeFile(winupdate_), decoy);
    EXPECT_EQ(ReadWholeFile(pqonwe_), shortCopy);

    // A worm copy in use that can be neither deleted nor scheduled: found
    // all the same, and one error.
    const std::string worm = WormRegion(WormSignature1) + "rest of the program";
    WriteWholeFile(winupdate_, worm);
    DeleteFileA(pqonwe_.c_str());
    {
        HolderProcess holder("file_holder.exe", "\"" + winupdate_ + "\"");
        ASSERT_TRUE(holder.holding()) << holder.output();
        RemoveDroppedFiles();
    }
    EXPECT_EQ(RemovalLines(), Walk({"Deleting file \"" + winupdate_ + "\", result=4", NotInfected(pqonwe_)}));
    EXPECT_EQ(GetInfectionState(), InfectionFound);
    EXPECT_EQ(GetErrorCount(), 1);
    EXPECT_EQ(GetRebootNeeded(), 0);
    EXPECT_EQ(ReadWholeFile(winupdate_), worm);

    // Both worm copies removed at once: nothing more to count.
    WriteWholeFile(pqonwe_, WormRegion(WormSignature0));
    RemoveDroppedFiles();
    EXPECT_EQ(RemovalLines(),
              Walk({"Deleting file \"" + winupdate_ + "\", result=1", "Deleting file \"" + pqonwe_ + "\", result=1"}));
    EXPECT_EQ(GetErrorCount(), 1);
    EXPECT_EQ(GetRebootNeeded(), 0);
    EXPECT_EQ(GetFileAttributesA(winupdate_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(pqonwe_.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
