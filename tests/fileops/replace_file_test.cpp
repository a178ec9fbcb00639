#include "fileops/replace_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/guards.h"
#include "base/outcome.h"
#include "tests/app/trace_capture.h"
#include "tests/detect/holder_process.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string Tag = "[QRTK - ReplaceFile]: ";
const std::string Exist = "[QRTK - FileExist]: File ";

// How the file at a path is prepared before the call.
enum class Prep { Missing, Plain, Directory, OpenedExclusively, ReadOnly, HeldByOtherProgram };

bool Present(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class ReplaceFileTest : public testing::Test {
protected:
    void SetUp() override {
        // The restart-time scheduler refuses deletions on the NT family to
        // a user outside the Administrators group, and has no scanner to
        // hand renames to: every scheduling below is refused.
        SetProbeAnswer(ProbeIsNt, 1);
        SetProbeAnswer(ProbeAdmin, 0);
    }
    void TearDown() override { ResetProbeAnswers(); }

    // Lines of ReplaceFile and FileExist written since the last call;
    // the scheduler's own lines are its business.
    std::vector<std::string> TakeLines() {
        std::vector<std::string> lines;
        for (const std::string& line : trace_.Lines())
            if (line.rfind(Tag, 0) == 0 || line.rfind(Exist, 0) == 0) lines.push_back(line);
        return lines;
    }

    // Prepares the path; a holder, when one is needed, lives as long as the result.
    std::unique_ptr<HolderProcess> Prepare(const std::string& path, Prep setup) {
        switch (setup) {
        case Prep::Missing:
            break;
        case Prep::Directory:
            EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
            break;
        case Prep::Plain:
        case Prep::OpenedExclusively:
        case Prep::ReadOnly:
        case Prep::HeldByOtherProgram:
            WriteWholeFile(path, "content of " + path);
            break;
        }
        if (setup == Prep::ReadOnly) {
            EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        if (setup == Prep::OpenedExclusively) {
            exclusive_.reset(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            EXPECT_TRUE(exclusive_) << GetLastError();
        }
        if (setup != Prep::HeldByOtherProgram) return nullptr;
        auto holder = std::make_unique<HolderProcess>("file_holder.exe", "\"" + path + "\"");
        EXPECT_TRUE(holder->holding()) << holder->output();
        return holder;
    }

    TempDir dir_;
    TraceCapture trace_{dir_ / "trace.log"};
    UniqueFileHandle exclusive_;
};

// Fills {s} and {d} into the expected lines.
std::vector<std::string> Expected(std::vector<std::string> lines, const std::string& s, const std::string& d = "") {
    for (std::string& line : lines) {
        for (const auto& [mark, value] : {std::pair{std::string("{s}"), s}, std::pair{std::string("{d}"), d}}) {
            for (size_t at; (at = line.find(mark)) != std::string::npos;) line.replace(at, mark.size(), value);
        }
    }
    return lines;
}

TEST_F(ReplaceFileTest, DeleteTracesEveryStepInOrder) {
    const std::vector<std::string> absent = {
        Tag + "Delete operation ({s}).",
        Exist + "{s} does not exist.",
        Tag + "Src file does not exist ({s}).",
    };
    const std::vector<std::string> refusedAtReboot = {
        Tag + "Delete operation ({s}).",
        Exist + "{s} exists.",
        Tag + "Src file exists ({s}).",
        Tag + "Failed to delete the file ({s}).",
        Tag + "File cannot be deleted during reboot ({s}).",
    };
    const struct {
        const char* name;
        Prep setup;
        int32_t result;
        std::vector<std::string> lines;
        bool remains;
    } cases[] = {
        {"missing.exe", Prep::Missing, NotFound, absent, false},
        {"plain.exe", Prep::Plain, Done,
         {Tag + "Delete operation ({s}).", Exist + "{s} exists.", Tag + "Src file exists ({s}).",
          Tag + "File was deleted ({s})."},
         false},
        // What cannot be opened for reading counts as absent and is left alone.
        {"folder.exe", Prep::Directory, NotFound, absent, true},
        {"exclusive.exe", Prep::OpenedExclusively, NotFound, absent, true},
        // The read-only attribute would refuse the deletion: it goes first.
        {"readonly.exe", Prep::ReadOnly, Done,
         {Tag + "Delete operation ({s}).", Exist + "{s} exists.", Tag + "Src file exists ({s}).",
          Tag + "Read-only attribute cleared ({s}).", Tag + "File was deleted ({s})."},
         false},
        // Denied access goes to the restart-time scheduler, which refuses here.
        {"in-use.exe", Prep::HeldByOtherProgram, Failed, refusedAtReboot, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_ / c.name;
        const auto holder = Prepare(path, c.setup);
        EXPECT_EQ(ReplaceFile("", path.c_str(), nullptr, 0), c.result);
        EXPECT_EQ(TakeLines(), Expected(c.lines, path));
        EXPECT_EQ(Present(path), c.remains);
        exclusive_.reset();
    }
}

// A device opens like a file but cannot be deleted, for another reason
// than denied access.
TEST_F(ReplaceFileTest, DeleteFailingOtherwiseIsNotFound) {
    EXPECT_EQ(ReplaceFile("", "NUL", nullptr, 0), NotFound);
    EXPECT_EQ(TakeLines(), Expected({Tag + "Delete operation ({s}).", Exist + "{s} exists.",
                                     Tag + "Src file exists ({s}).", Tag + "Failed to delete the file ({s}).",
                                     Tag + "File not found or it is a directory ({s})."},
                                    "NUL"));
}

TEST_F(ReplaceFileTest, RenameTracesEveryStepInOrder) {
    const std::vector<std::string> head = {
        Tag + "Rename operation ({s} -> {d}).",
        Exist + "{s} exists.",
        Tag + "Src file exists ({s}).",
    };
    const auto with = [&head](std::vector<std::string> rest) {
        std::vector<std::string> lines = head;
        lines.insert(lines.end(), rest.begin(), rest.end());
        return lines;
    };
    const std::string renamed = Tag + "Src file was successfully renamed ({s} -> {d}).";
    const std::string renameFailed = Tag + "Failed to rename the source file ({s}).";
    const std::string renameRefused = Tag + "Src file cannot be renamed during reboot({s} -> {d}).";
    const std::vector<std::string> destinationRefused = with({
        Exist + "{d} exists.",
        Tag + "Dest file exists ({d}).",
        Tag + "Failed to delete the file ({d}).",
        Tag + "File cannot be deleted during reboot ({d}).",
    });
    const struct {
        const char* what;
        Prep atSource;
        Prep atDestination;
        int32_t result;
        std::vector<std::string> lines;
        bool sourceRemains;
        bool destinationRemains;
        bool moved;  // the destination holds the source's old content
    } cases[] = {
        {"missing source", Prep::Missing, Prep::Plain, NotFound,
         {Tag + "Rename operation ({s} -> {d}).", Exist + "{s} does not exist.", Tag + "Src file does not exist ({s})."},
         false, true, false},
        {"new name", Prep::Plain, Prep::Missing, Done, with({Exist + "{d} does not exist.", renamed}), false, true,
         true},
        {"over an existing file", Prep::Plain, Prep::Plain, Done,
         with({Exist + "{d} exists.", Tag + "Dest file exists ({d}).", Tag + "Dest file deleted ({d}).", renamed}),
         false, true, true},
        {"over a file in use", Prep::Plain, Prep::HeldByOtherProgram, Failed, destinationRefused, true, true, false},
        {"over a read-only file", Prep::Plain, Prep::ReadOnly, Failed, destinationRefused, true, true, false},
        {"source in use", Prep::HeldByOtherProgram, Prep::Missing, Failed,
         with({Exist + "{d} does not exist.", renameFailed, renameRefused}), true, false, false},
        // The old destination is gone although the rename failed.
        {"source in use over an existing file", Prep::HeldByOtherProgram, Prep::Plain, FailedDestinationRemoved,
         with({Exist + "{d} exists.", Tag + "Dest file exists ({d}).", Tag + "Dest file deleted ({d}).", renameFailed,
               renameRefused}),
         true, false, false},
        {"onto a folder", Prep::Plain, Prep::Directory, Failed,
         with({Exist + "{d} does not exist.", renameFailed, renameRefused}), true, true, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string source = dir_ / ("source" + std::to_string(n));
        const std::string destination = dir_ / ("destination" + std::to_string(n++));
        const auto sourceHolder = Prepare(source, c.atSource);
        const auto destinationHolder = Prepare(destination, c.atDestination);
        EXPECT_EQ(ReplaceFile("", source.c_str(), destination.c_str(), 0), c.result);
        EXPECT_EQ(TakeLines(), Expected(c.lines, source, destination));
        EXPECT_EQ(Present(source), c.sourceRemains);
        EXPECT_EQ(Present(destination), c.destinationRemains);
        if (c.moved) {
            EXPECT_EQ(ReadWholeFile(destination), "content of " + source);
        }
    }
}

TEST_F(ReplaceFileTest, RenameWhoseDestinationCannotBeDeletedOtherwise) {
    const std::string source = dir_ / "source";
    WriteWholeFile(source, "kept");
    EXPECT_EQ(ReplaceFile("", source.c_str(), "NUL", 0), Failed);
    EXPECT_EQ(TakeLines(),
              Expected({Tag + "Rename operation ({s} -> {d}).", Exist + "{s} exists.", Tag + "Src file exists ({s}).",
                        Exist + "{d} exists.", Tag + "Dest file exists ({d}).", Tag + "Failed to delete the file ({d}).",
                        Tag + "Dest file is a directory ({d})."},
                       source, "NUL"));
    EXPECT_EQ(ReadWholeFile(source), "kept");
}

TEST_F(ReplaceFileTest, PrefixIsJoinedToBothNamesWithoutSeparator) {
    const std::string prefix = dir_ / "pre";
    WriteWholeFile(prefix + "fix-a", "a");
    EXPECT_EQ(ReplaceFile(prefix.c_str(), "fix-a", "fix-b", 0), Done);
    EXPECT_EQ(ReadWholeFile(prefix + "fix-b"), "a");
    EXPECT_EQ(ReplaceFile(prefix.c_str(), "fix-b", nullptr, 0), Done);
    EXPECT_FALSE(Present(prefix + "fix-b"));
    EXPECT_EQ(TakeLines()[0], Tag + "Rename operation (" + prefix + "fix-a -> " + prefix + "fix-b).");
}

// 263 characters fit the path buffers; one more is refused before anything
// is looked at, with one line that names the whole path.
TEST_F(ReplaceFileTest, PathThatDoesNotFitIsRefusedWhole) {
    const std::string prefix = dir_.path() + "\\";
    const std::string fits(263 - prefix.size(), 'f');
    const std::string over(264 - prefix.size(), 'o');
    const std::string huge(5000, 'x');

    EXPECT_EQ(ReplaceFile(prefix.c_str(), fits.c_str(), nullptr, 0), NotFound);
    EXPECT_EQ(TakeLines().front(), Tag + "Delete operation (" + prefix + fits + ").");
    EXPECT_EQ(ReplaceFile(prefix.c_str(), fits.c_str(), fits.c_str(), 0), NotFound);
    EXPECT_EQ(TakeLines().front(), Tag + "Rename operation (" + prefix + fits + " -> " + prefix + fits + ").");

    WriteWholeFile(prefix + "short", "kept");
    const struct {
        const char* what;
        const char* source;
        const char* destination;
        std::string named;
    } cases[] = {
        {"delete", over.c_str(), nullptr, over},
        {"rename from", over.c_str(), "short", over},
        {"rename to", "short", over.c_str(), over},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReplaceFile(prefix.c_str(), c.source, c.destination, 0), Failed);
        EXPECT_EQ(TakeLines(), std::vector<std::string>{Tag + "Path is too long (" + prefix + c.named + ")."});
        EXPECT_EQ(ReadWholeFile(prefix + "short"), "kept");
    }
    // Far beyond every limit: the trace line is cut, the path never.
    EXPECT_EQ(ReplaceFile("", huge.c_str(), nullptr, 0), Failed);
    EXPECT_EQ(ReplaceFile(huge.c_str(), huge.c_str(), huge.c_str(), 0), Failed);
    EXPECT_EQ(ReadWholeFile(prefix + "short"), "kept");
}

TEST(OutcomeValues, ResultRuleCountsRebootsAndFailures) {
    const int32_t reboots = GetRebootNeeded();
    const int32_t errors = GetErrorCount();
    for (int result : {0, 1, 2, 3, 4, 5, -1}) ApplyResultRule(result);
    EXPECT_EQ(GetRebootNeeded(), reboots + 1);
    EXPECT_EQ(GetErrorCount(), errors + 2);
    EXPECT_EQ(ReportError(3, 16, 0, 0, 7), 0);
}

}  // namespace
