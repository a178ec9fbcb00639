#include "fileops/replace_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/guards.h"
#include "base/outcome.h"
#include "fileops/file_exist.h"
#include "fileops/replace_result.h"
#include "tests/fileops/file_ops_test.h"
#include "tests/support/holder_process.h"
#include "tests/support/temp_dir.h"

namespace {

using enum ReplaceFileResult;

// How the file at a path is prepared before the call.
enum class Prep { Missing, Plain, Directory, OpenedExclusively, ReadOnly, HeldByOtherProgram };

class ReplaceFileTest : public FileOpsTest {
protected:
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

    UniqueFileHandle exclusive_;
};

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
        ReplaceFileResult result;
        std::vector<std::string> lines;
        bool remains;
    } cases[] = {
        {"missing.exe", Prep::Missing, NotFound, absent, false},
        {"plain.exe", Prep::Plain, Done,
         {Tag + "Delete operation ({s}).", Exist + "{s} exists.", Tag + "Src file exists ({s}).",
          Tag + "File was deleted ({s})."},
         false},
        // A folder is no file to delete, and no absent one either.
        {"folder.exe", Prep::Directory, Failed,
         {Tag + "Delete operation ({s}).", Exist + "{s} cannot be checked, error 5.",
          Tag + "Src file cannot be checked ({s})."},
         true},
        // Held however exclusively, the file is there: in use.
        {"exclusive.exe", Prep::OpenedExclusively, Failed, refusedAtReboot, true},
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
// than denied access (EINVAL): an error, not a file that is absent.
TEST_F(ReplaceFileTest, DeleteFailingForAnotherReasonIsAnError) {
    EXPECT_EQ(ReplaceFile("", "NUL", nullptr, 0), Failed);
    EXPECT_EQ(TakeLines(), Expected({Tag + "Delete operation ({s}).", Exist + "{s} exists.",
                                     Tag + "Src file exists ({s}).", Tag + "Failed to delete the file ({s}).",
                                     Tag + "File cannot be deleted, error 22 ({s})."},
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
        ReplaceFileResult result;
        std::vector<std::string> lines;
        bool sourceRemains;
        bool destinationRemains;
        bool moved;  // the destination holds the source's old content
    } cases[] = {
        {"missing source", Prep::Missing, Prep::Plain, NotFound,
         {Tag + "Rename operation ({s} -> {d}).", Exist + "{s} does not exist.",
          Tag + "Src file does not exist ({s})."},
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
         with({Exist + "{d} cannot be checked, error 5.", Tag + "Dest file cannot be checked ({d})."}), true, true,
         false},
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

// Only denied access goes to the restart; a name that is not found, where
// the source is still there, is the destination's folder.
TEST_F(ReplaceFileTest, RenameErrorsOtherThanDeniedAccessAreFailures) {
    const std::string source = dir_ / "source";
    const std::string head = Tag + "Rename operation ({s} -> {d}).";
    const struct {
        const char* what;
        std::string destination;
        std::vector<std::string> lines;
    } cases[] = {
        {"destination that cannot be deleted", "NUL",
         {head, Exist + "{s} exists.", Tag + "Src file exists ({s}).", Exist + "{d} exists.",
          Tag + "Dest file exists ({d}).", Tag + "Failed to delete the file ({d}).",
          Tag + "Dest file cannot be deleted, error 22 ({d})."}},
        {"destination in a missing folder", dir_ / "no folder\\destination",
         {head, Exist + "{s} exists.", Tag + "Src file exists ({s}).", Exist + "{d} does not exist.",
          Tag + "Failed to rename the source file ({s}).", Exist + "{s} exists.",
          Tag + "Src file cannot be renamed, error 2 ({s} -> {d})."}},
        {"destination of a bad name", dir_ / "bad|name",
         {head, Exist + "{s} exists.", Tag + "Src file exists ({s}).", Exist + "{d} cannot be checked, error 123.",
          Tag + "Dest file cannot be checked ({d})."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(source, "kept");
        EXPECT_EQ(ReplaceFile("", source.c_str(), c.destination.c_str(), 0), Failed);
        EXPECT_EQ(TakeLines(), Expected(c.lines, source, c.destination));
        EXPECT_EQ(ReadWholeFile(source), "kept");
    }
}

// Only a missing file or folder is absent: a file held however exclusively
// is there, and a check that fails otherwise says why.
TEST_F(ReplaceFileTest, FileExistTellsAbsentFromUnknown) {
    const std::string file = dir_ / "file.exe";
    WriteWholeFile(file, "here");
    const UniqueFileHandle exclusive(CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive) << GetLastError();
    const auto holder = Prepare(dir_ / "held.exe", Prep::HeldByOtherProgram);
    ASSERT_TRUE(CreateDirectoryA((dir_ / "folder").c_str(), nullptr));
    const struct {
        std::string path;
        FileExistence result;
        std::string line;
    } cases[] = {
        {file, FileExistence::Present, "exists."},
        {dir_ / "held.exe", FileExistence::Present, "exists."},
        {dir_ / "missing.exe", FileExistence::Absent, "does not exist."},
        {dir_ / "no folder\\missing.exe", FileExistence::Absent, "does not exist."},
        {dir_ / "folder", FileExistence::Unchecked, "cannot be checked, error 5."},
        {dir_ / "bad|name.exe", FileExistence::Unchecked, "cannot be checked, error 123."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileExist(c.path.c_str()), static_cast<int32_t>(c.result));
        EXPECT_EQ(TakeLines(), std::vector<std::string>{Exist + c.path + " " + c.line});
    }
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

// 263 characters fit the path buffers (the system's ANSI calls then refuse
// the name as too long: it cannot be checked); one more is refused before
// anything is looked at, with one line that names the whole path.
TEST_F(ReplaceFileTest, PathThatDoesNotFitIsRefusedWhole) {
    const std::string prefix = dir_.path() + "\\";
    const std::string fits(263 - prefix.size(), 'f');
    const std::string over(264 - prefix.size(), 'o');
    const std::string huge(5000, 'x');

    EXPECT_EQ(ReplaceFile(prefix.c_str(), fits.c_str(), nullptr, 0), Failed);
    EXPECT_EQ(TakeLines(), Expected({Tag + "Delete operation ({s}).", Exist + "{s} cannot be checked, error 206.",
                                     Tag + "Src file cannot be checked ({s})."},
                                    prefix + fits));
    EXPECT_EQ(ReplaceFile(prefix.c_str(), fits.c_str(), fits.c_str(), 0), Failed);
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
    ResetRunOutcome();
    for (int32_t result : {0, 1, 2, 3, 4, 5, -1}) ApplyResultRule(static_cast<ReplaceFileResult>(result));
    EXPECT_EQ(GetRebootNeeded(), 1);
    EXPECT_EQ(GetErrorCount(), 2);
    EXPECT_EQ(ReportError(3, 16, 0, 0, 7), 0);
}

}  // namespace
