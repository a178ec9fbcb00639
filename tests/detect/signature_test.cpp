#include "detect/signature.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/crc32.h"
#include "tests/support/holder_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_bytes.h"
#include "tests/support/trace_capture.h"

namespace {

struct Scan {
    int32_t opened;
    int32_t index;
    int32_t found;
    int32_t findResult;
    int32_t infected;
    std::string console;
};

// Runs the three entry points on one path and catches what they print.
Scan ScanAll(const std::string& path, const FileSignature* table = SignatureTable) {
    Scan s{};
    testing::internal::CaptureStdout();
    s.index = 1234;
    s.opened = ScanFileSignatures(path.c_str(), table, &s.index);
    s.found = 1234;
    s.findResult = FindFileSignature(path.c_str(), &s.found);
    s.infected = IsFileInfected(path.c_str());
    fflush(stdout);
    s.console = testing::internal::GetCapturedStdout();
    return s;
}

TEST(IsFileInfected, RecognisesTheFirst8192BytesWhateverFollows) {
    TempDir dir;
    const std::string region0 = WormRegion(WormSignature0);
    const std::string region1 = WormRegion(WormSignature1);
    const std::string tail = TestBytes(101, 5000);
    std::string flippedInside = region0 + tail;
    flippedInside[8191] ^= 1;
    std::string flippedAfter = region0 + tail;
    flippedAfter[8192] ^= 1;

    const struct {
        const char* name;
        std::string content;
        int32_t index;
    } cases[] = {
        {"worm0.exe", region0 + tail, 0},
        {"worm1.exe", region1 + tail, 1},
        {"exact0.exe", region0, 0},
        // Right after a full region: the buffer still holds it, so only the
        // length of the read tells the short file apart.
        {"short.exe", region0.substr(0, 8191), -1},
        {"exact1.txt", region1, 1},  // the name plays no part
        {"noext", region1 + std::string(100000, 'x'), 1},
        {"flipped-after.exe", flippedAfter, 0},
        {"flipped-inside.exe", flippedInside, -1},
        {"empty.exe", "", -1},
        {"plain.exe", TestBytes(100, 9000), -1},
        {"patch-halves.exe", region0.substr(0, 0x42) + region1.substr(0x42), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        WriteWholeFile(path, c.content);
        const Scan s = ScanAll(path);
        EXPECT_EQ(s.opened, 1);
        EXPECT_EQ(s.index, c.index);
        EXPECT_EQ(s.findResult, 1);
        EXPECT_EQ(s.found, c.index != -1 ? 1 : 0);
        EXPECT_EQ(s.infected, c.index != -1 ? 1 : 0);
        EXPECT_EQ(s.console, "");
        // The file was closed: nothing keeps it from being deleted.
        EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
    }
}

TEST(RecogniseFile, TellsAbsentFromUnchecked) {
    TempDir dir;
    const std::string worm = WormRegion(WormSignature0) + "tail";
    const std::string folder = dir / "folder.exe";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string held = dir / "held.exe";
    WriteWholeFile(held, worm);

    const std::string tooLong = dir.path() + "\\" + std::string(300, 'w') + ".exe";
    TraceCapture trace(dir / "trace.log");
    const struct {
        const char* what;
        std::string path;
        Recognition verdict;
        DWORD error;  // traced with its reason when the file could not be read
    } cases[] = {
        {"missing", dir / "missing.exe", Recognition::Absent, 0},
        {"directory", folder, Recognition::NotWorm, 0},
        {"empty path", "", Recognition::Absent, 0},
        // The wide functions take long paths: a missing one is absent.
        {"path longer than MAX_PATH", tooLong, Recognition::Absent, 0},
        {"missing folder", dir / "nowhere\\worm.exe", Recognition::Absent, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RecognitionResult result = RecogniseFile(Widen(c.path).c_str());
        EXPECT_EQ(result.verdict, c.verdict);
        EXPECT_EQ(result.error, c.error);
        EXPECT_FALSE(result.file.handle);
        EXPECT_EQ(trace.Lines(), std::vector<std::string>{});
        TraceUnchecked(Widen(c.path).c_str(), result);
        EXPECT_EQ(trace.Lines(), std::vector<std::string>{"Cannot open file " + c.path +
                                                          " for the signature check, error=" +
                                                          std::to_string(c.error)});

        // The specified predicate cannot tell these apart: all are "not infected".
        const Scan s = ScanAll(c.path);
        EXPECT_EQ(s.opened, 0);
        EXPECT_EQ(s.index, -1);
        EXPECT_EQ(s.findResult, 0);
        EXPECT_EQ(s.found, 0);
        EXPECT_EQ(s.infected, 0);
        EXPECT_EQ(s.console, "");
        EXPECT_EQ(trace.Lines(), std::vector<std::string>{});
    }

    // A worm copy keeps the handle it was read through, and its identity.
    RecognitionResult result = RecogniseFile(Widen(held).c_str());
    ASSERT_EQ(result.verdict, Recognition::Worm);
    ASSERT_TRUE(result.file.handle);
    FileIdentity again;
    ASSERT_TRUE(ReadFileIdentity(result.file.handle.get(), &again));
    EXPECT_TRUE(SameFile(again, result.file.identity));
    result.file.handle.reset();
    EXPECT_TRUE(DeleteFileA(held.c_str())) << GetLastError();
}

TEST(IsFileInfected, CopyHeldOpenByAnotherProgramIsRecognised) {
    TempDir dir;
    const std::string held = dir / "held.exe";
    WriteWholeFile(held, WormRegion(WormSignature0) + "tail");
    // Writing to it, and (NT family) with delete access shared as well.
    for (const char* mode : {"/write", "/delete"}) {
        SCOPED_TRACE(mode);
        HolderProcess holder("file_holder.exe", std::string(mode) + " \"" + held + "\"");
        ASSERT_TRUE(holder.holding()) << holder.output();
        const Scan s = ScanAll(held);
        EXPECT_EQ(s.opened, 1);
        EXPECT_EQ(s.index, 0);
        EXPECT_EQ(s.infected, 1);
    }
}

// The handle table gives out the lowest free slot first (Wine's
// GetProcessHandleCount always answers 0), so a handle left open by any of
// many calls moves the next new handle to another slot.
HANDLE NextFreeHandleSlot() {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(event);
    return event;
}

TEST(IsFileInfected, LeavesNoHandleOpen) {
    TempDir dir;
    const std::string worm = dir / "worm.exe";
    WriteWholeFile(worm, WormRegion(WormSignature0));
    const std::string clean = dir / "clean.exe";
    WriteWholeFile(clean, "MZ");
    const std::string paths[] = {worm, clean, dir.path(), dir / "missing.exe"};
    const HANDLE before = NextFreeHandleSlot();
    for (int i = 0; i < 50; ++i)
        for (const std::string& path : paths) IsFileInfected(path.c_str());
    EXPECT_EQ(NextFreeHandleSlot(), before);
}

TEST(ScanFileSignatures, RowsAreTriedInOrderWithinTheBufferLimit) {
    TempDir dir;
    const std::string content = WormRegion(WormSignature0) + TestBytes(102, 12000);
    const std::string path = dir / "rows.bin";
    WriteWholeFile(path, content);
    const auto crcAt = [&](uint32_t offset, uint32_t length) {
        return Crc32(content.data() + offset, length);
    };
    const uint32_t size = static_cast<uint32_t>(content.size());

    const struct {
        const char* what;
        FileSignature rows[4];
        int32_t index;
        const char* console;
    } cases[] = {
        {"empty table", {{0, 0, 0}}, -1, ""},
        {"end row ends the table", {{0, 0, 0}, {0, 8192, WormSignature0}, {0, 0, 0}}, -1, ""},
        {"region inside the file", {{100, 16, crcAt(100, 16)}, {0, 0, 0}}, 0, ""},
        {"first match wins", {{0, 8192, WormSignature0}, {0, 8192, WormSignature0}, {0, 0, 0}}, 0, ""},
        {"later row after a miss", {{0, 16, 0}, {0, 8192, WormSignature0}, {0, 0, 0}}, 1, ""},
        {"row of 12288 bytes is read", {{0, 12288, crcAt(0, 12288)}, {0, 0, 0}}, 0, ""},
        {"row over 12288 bytes is never tried", {{0, 12289, crcAt(0, 12289)}, {0, 8192, WormSignature0}, {0, 0, 0}}, 1, ""},
        {"region past the end", {{size - 10, 11, 0}, {size - 10, 10, crcAt(size - 10, 10)}, {0, 0, 0}}, 1, ""},
        {"seek far past the end", {{0x7FFFFFFF, 16, 0}, {0, 8192, WormSignature0}, {0, 0, 0}}, 1, ""},
        {"failed seek is reported and skipped", {{0x80000000u, 16, 0}, {0, 8192, WormSignature0}, {0, 0, 0}}, 1,
         "seek failed\n"},
        {"every failed seek is reported",
         {{0xFFFFFFFFu, 16, 0}, {0x80000000u, 20000, 0}, {0, 0, 0}}, -1, "seek failed\nseek failed\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::internal::CaptureStdout();
        int32_t index = 99;
        EXPECT_EQ(ScanFileSignatures(path.c_str(), c.rows, &index), 1);
        fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.console);
        EXPECT_EQ(index, c.index);
    }
    EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
}

}  // namespace
