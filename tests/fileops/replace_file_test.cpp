#include "fileops/replace_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/guards.h"
#include "base/outcome.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "fileops/quarantine.h"
#include "tests/support/child_process.h"
#include "tests/support/holder_process.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"
#include "tests/support/trace_capture.h"

namespace {

using enum ReplaceFileResult;

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
        SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Nt));
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

// The machine's list of delayed moves, put back as it was when the case ends.
class PendingMoves {
public:
    PendingMoves() : saved_(Raw()) {}
    ~PendingMoves() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        const UniqueRegKey owner(key);
        if (saved_.empty()) {
            RegDeleteValueA(key, Value);
        } else {
            RegSetValueExA(key, Value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved_.data()),
                           static_cast<DWORD>(saved_.size()));
        }
    }
    PendingMoves(const PendingMoves&) = delete;
    PendingMoves& operator=(const PendingMoves&) = delete;

    // The names (empty targets left out) added since the case began.
    std::vector<std::string> Added() const {
        const std::vector<std::string> before = Names(saved_);
        std::vector<std::string> now = Names(Raw());
        now.erase(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(std::min(before.size(), now.size())));
        return now;
    }

private:
    static constexpr const char* Key = "System\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const char* Value = "PendingFileRenameOperations";

    static std::string Raw() {
        std::string data(1 << 16, '\0');
        DWORD size = static_cast<DWORD>(data.size());
        if (RegGetValueA(HKEY_LOCAL_MACHINE, Key, Value, RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &size) !=
            ERROR_SUCCESS) {
            return "";
        }
        data.resize(size);
        return data;
    }
    static std::vector<std::string> Names(const std::string& raw) {
        std::vector<std::string> names;
        for (size_t at = 0, end; at < raw.size(); at = end + 1) {
            end = raw.find('\0', at);
            if (end == std::string::npos) end = raw.size();
            if (end > at) names.push_back(raw.substr(at, end - at));
        }
        return names;
    }

    std::string saved_;
};

bool AnyContent(HANDLE /*file*/) { return true; }
bool NoContent(HANDLE /*file*/) { return false; }

// The file as the recognition leaves it: open for reading, sharing all.
RecognisedFile Recognise(const std::string& path) {
    RecognisedFile file;
    file.handle.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file.handle) << path << ": " << GetLastError();
    EXPECT_TRUE(ReadFileIdentity(file.handle.get(), &file.identity));
    return file;
}

std::string Folder(UINT(WINAPI* query)(LPSTR, UINT)) {
    char folder[MAX_PATH];
    const UINT length = query(folder, sizeof folder);
    EXPECT_GT(length, 3u);
    return std::string(folder, length);
}

std::string SidText(PSID sid) {
    std::string text = "S-1-" + std::to_string(GetSidIdentifierAuthority(sid)->Value[5]);
    for (DWORD n = 0; n < *GetSidSubAuthorityCount(sid); ++n) text += "-" + std::to_string(*GetSidSubAuthority(sid, n));
    return text;
}

// Whom an access list grants what: "S-1-5-18 S-1-5-32-544" for SYSTEM and
// Administrators with every right, "protected" when it inherits nothing.
std::string Granted(PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* acl = nullptr;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || acl == nullptr) {
        return "no access list";
    }
    std::string granted;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) return "unreadable entry";
        std::string text = SidText(&ace->SidStart);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || ace->Mask != FILE_ALL_ACCESS) text += "(other)";
        granted += (granted.empty() ? "" : " ") + text;
    }
    return granted + ((control & SE_DACL_PROTECTED) != 0 ? " protected" : "");
}

// The recognising handle is still open when the second open is compared,
// so the identity tells the files apart on the NT family. The 9x family has
// no user boundary, and FAT may number a file anew once it is closed there:
// the content read through the second open is the proof, not the index.
TEST_F(ReplaceFileTest, IdentityDecidesOnNtAndContentOn9x) {
    const struct {
        int nt;
        bool sameIdentity;
        bool stillRecognised;
        ReplaceFileResult result;
    } cases[] = {
        {1, true, true, Done},   {1, false, true, Failed}, {1, true, false, Failed},
        {0, true, true, Done},   {0, false, true, Done},   {0, true, false, Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "nt=" << c.nt << " same=" << c.sameIdentity
                                        << " still=" << c.stillRecognised);
        SetProbeAnswer(ProbeKind, c.nt ? PlatformCode(PlatformKind::Nt) : PlatformCode(PlatformKind::Win9x));
        const std::string path = dir_ / "identity.exe";
        WriteWholeFile(path, "MZ worm");
        RecognisedFile recognised = Recognise(path);
        if (!c.sameIdentity) recognised.identity.indexLow ^= 1;
        EXPECT_EQ(DeleteRecognisedFile(path.c_str(), recognised, c.stillRecognised ? AnyContent : NoContent, 0),
                  c.result);
        EXPECT_FALSE(recognised.handle) << "the recognising handle was kept";
        EXPECT_EQ(GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES, c.result == Done);
        DeleteFileA(path.c_str());
    }
}

// Whether a file's access list, as the system reads it back, grants
// Everyone anything.
bool GrantsEveryone(const std::string& path) {
    alignas(DWORD) BYTE buffer[4096];
    DWORD needed = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* acl = nullptr;
    EXPECT_TRUE(GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed))
        << GetLastError();
    if (!GetSecurityDescriptorDacl(buffer, &present, &acl, &defaulted) || !present || acl == nullptr) return true;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            SidText(&ace->SidStart) == "S-1-1-0") {
            return true;
        }
    }
    return false;
}

// Wine keeps no access lists or owners on disk: what the folders and the
// moved files are given is checked here instead of what they have.
TEST(AdminOnlySecurity, OwnedAndUsableByAdministratorsAndSystemAloneInheritingNothing) {
    AdminOnlySecurity security;
    ASSERT_TRUE(MakeAdminOnlySecurity(security));
    EXPECT_EQ(Granted(&security.descriptor), "S-1-5-18 S-1-5-32-544 protected");
    PSID owner = nullptr;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(&security.descriptor, &owner, &defaulted));
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(SidText(owner), "S-1-5-32-544");
    EXPECT_FALSE(defaulted);
}

// How a worm copy that the deletion meets is held.
enum class Hold { None, Running, WithoutDeleteSharing, WithDeleteAccess, ReadSharingAll };
// What the restart is handed.
enum class Restart { Nothing, ByName, MovedOutOfReach };

// An administrator's run on the NT family: the restart is really asked.
class RestartSafety : public ReplaceFileTest {
protected:
    void SetUp() override {
        SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Nt));
        SetProbeAnswer(ProbeAdmin, 1);
    }
    void TearDown() override {
        // What the case made for the restart goes with the list's entries.
        const std::vector<std::string> added = pending_.Added();
        for (const std::string& name : added) {
            const std::string path = name.substr(name.rfind("\\??\\", 0) == 0 ? 4 : 0);
            DeleteFileA(path.c_str());
            RemoveDirectoryA(path.c_str());
        }
        ReplaceFileTest::TearDown();
    }

    PendingMoves pending_;
};

TEST_F(RestartSafety, OnlyPathsNoUserCanChangeAreLeftForTheRestart) {
    const std::string system = Folder(GetSystemDirectoryA);
    const std::string windows = Folder(GetWindowsDirectoryA);
    const struct {
        const char* what;
        std::string path;
        Hold hold;
        ReplaceFileResult result;
        Restart restart;
        std::vector<std::string> lines;  // after "Src file exists"
    } cases[] = {
        {"running program in a user's folder", dir_ / "running.exe", Hold::Running, DoneAtReboot,
         Restart::MovedOutOfReach, {Tag + "Failed to delete the file ({s})."}},
        // Another program that may write to it or move it could take it out of
        // the program's folder again: nothing is moved.
        {"held with delete sharing in a user's folder", dir_ / "shared.exe", Hold::WithDeleteAccess, Failed,
         Restart::Nothing,
         {Tag + "Failed to delete the file ({s}).",
          Tag + "File cannot be moved out of users' reach, error 32: nothing is scheduled ({s})."}},
        {"held without delete sharing in a user's folder", dir_ / "held.exe", Hold::WithoutDeleteSharing, Failed,
         Restart::Nothing,
         {Tag + "Failed to delete the file ({s}).",
          Tag + "File cannot be moved out of users' reach, error 32: nothing is scheduled ({s})."}},
        {"held without delete sharing in the system folder", system + "\\ravlok-held.exe",
         Hold::WithoutDeleteSharing, DoneAtReboot, Restart::ByName,
         {Tag + "Failed to delete the file ({s}).", Tag + "File will be deleted during reboot ({s})."}},
        // Another program that may undo a deletion: the file stays until the restart.
        {"held with delete access in the system folder", system + "\\ravlok-shared.exe", Hold::WithDeleteAccess,
         DoneAtReboot, Restart::ByName,
         {Tag + "Failed to delete the file ({s}).", Tag + "File will be deleted during reboot ({s})."}},
        {"in a user's folder, not held", dir_ / "plain.exe", Hold::None, Done, Restart::Nothing,
         {Tag + "File was deleted ({s})."}},
        // A reader that shares deletion keeps the file until it lets go.
        {"read by another who shares deletion", dir_ / "read.exe", Hold::ReadSharingAll, DoneAtReboot,
         Restart::Nothing,
         {Tag + "File will be deleted when other programs close it, at the latest at the restart ({s})."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(CopyIdleProgram(c.path));
        std::unique_ptr<ChildProcess> running;
        std::unique_ptr<HolderProcess> holder;
        UniqueFileHandle reader;
        if (c.hold == Hold::ReadSharingAll) {
            reader.reset(CreateFileA(c.path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     0, nullptr));
            ASSERT_TRUE(reader) << GetLastError();
        } else if (c.hold == Hold::Running) {
            running = std::make_unique<ChildProcess>(c.path);
            ASSERT_TRUE(running->running());
        } else if (c.hold != Hold::None) {
            const char* how = c.hold == Hold::WithDeleteAccess ? "/delete " : "";
            holder = std::make_unique<HolderProcess>("file_holder.exe", how + ("\"" + c.path + "\""));
            ASSERT_TRUE(holder->holding()) << holder->output();
        }
        RecognisedFile recognised = Recognise(c.path);
        const FileIdentity identity = recognised.identity;
        TakeLines();
        const size_t known = pending_.Added().size();

        EXPECT_EQ(DeleteRecognisedFile(c.path.c_str(), recognised, AnyContent, 0), c.result);
        std::vector<std::string> lines = TakeLines();
        std::vector<std::string> added = pending_.Added();
        added.erase(added.begin(), added.begin() + static_cast<std::ptrdiff_t>(std::min(known, added.size())));
        // The program's folder and the name it chose are its own: read from the trace.
        const std::string movedPrefix = Tag + "File moved out of users' reach (" + c.path + " -> ";
        const auto movedLine =
            std::ranges::find_if(lines, [&](const std::string& l) { return l.starts_with(movedPrefix); });
        std::string moved;
        std::vector<std::string> expected = {Tag + "Delete operation ({s}).", Exist + "{s} exists.",
                                             Tag + "Src file exists ({s})."};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        if (c.restart == Restart::MovedOutOfReach && movedLine == lines.end()) {
            ADD_FAILURE() << "not moved";
        } else if (c.restart == Restart::MovedOutOfReach) {
            moved = movedLine->substr(movedPrefix.size(), movedLine->size() - movedPrefix.size() - 2);
            const std::string folder = moved.substr(0, moved.rfind('\\'));
            // A fresh folder of unguessable name in the Windows folder (the user's
            // folder is on its volume), holding the file alone.
            EXPECT_EQ(folder.substr(0, windows.size() + 11), windows + "\\Ravlokfix-");
            EXPECT_EQ(folder.size(), windows.size() + 27);
            EXPECT_EQ(moved, folder + "\\worm.del");
            expected.push_back(*movedLine);
            expected.push_back(Tag + "File will be deleted during reboot (" + moved + ").");
            EXPECT_EQ(added, (std::vector<std::string>{"\\??\\" + moved, "\\??\\" + folder}));
            const RecognisedFile there = Recognise(moved);
            EXPECT_TRUE(SameFile(there.identity, identity));
            // The file was given the folder's access list before the move. Wine
            // keeps of a file's list only what the Unix mode can hold: whether
            // others (Everyone) are granted anything.
            EXPECT_FALSE(GrantsEveryone(moved));
        } else {
            EXPECT_EQ(movedLine, lines.end());
            EXPECT_EQ(added, c.restart == Restart::ByName ? std::vector<std::string>{"\\??\\" + c.path}
                                                          : std::vector<std::string>{});
        }
        // The restart-time scheduler's own lines are its business.
        std::erase_if(lines,
                      [](const std::string& l) { return l.starts_with("[QRTK - AddFileToAutomaticRenameList]"); });
        EXPECT_EQ(lines, Expected(expected, c.path));
        EXPECT_EQ(Present(c.path), c.restart == Restart::ByName || c.result == Failed || reader);

        running.reset();
        holder.reset();
        reader.reset();
        EXPECT_EQ(Present(c.path), c.restart == Restart::ByName || c.result == Failed);
        if (c.restart != Restart::MovedOutOfReach) DeleteFileA(c.path.c_str());
    }
}

// A path that the code page cannot hold goes whole to the file functions, not
// through a short name that a volume may not have: the file is deleted, or,
// running, moved aside through its handle; the trace writes it as shown.
TEST_F(RestartSafety, PathOutsideTheCodePageGoesWhole) {
    const std::wstring folder = Widen(dir_ / "") + L"\u0414\u043e\u043c";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const bool run : {false, true}) {
        SCOPED_TRACE(run ? "running" : "not held");
        const std::wstring path = folder + (run ? L"\\\u30ef\u30fc\u30e0.exe" : L"\\\u00c4rger.exe");
        ASSERT_TRUE(CopyIdleProgram(path));
        std::unique_ptr<ChildProcess> running;
        if (run) running = std::make_unique<ChildProcess>(path);
        RecognisedFile recognised;
        recognised.handle.reset(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(recognised.handle) << GetLastError();
        ASSERT_TRUE(ReadFileIdentity(recognised.handle.get(), &recognised.identity));
        // Written before the call: a gone file has no short name to show.
        const std::string shown = ShowPath(path.c_str()).text;
        TakeLines();

        EXPECT_EQ(DeleteRecognisedFile(path.c_str(), recognised, AnyContent, 0), run ? DoneAtReboot : Done);
        const std::vector<std::string> lines = TakeLines();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[0], Tag + "Delete operation (" + shown + ").");
        EXPECT_EQ(lines[3], Tag + (run ? "Failed to delete the file (" : "File was deleted (") + shown + ").");
        if (run) {
            EXPECT_TRUE(std::ranges::any_of(lines, [&](const std::string& l) {
                return l.starts_with(Tag + "File moved out of users' reach (" + shown + " -> ");
            }));
        }
        running.reset();
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST(OutcomeValues, ResultRuleCountsRebootsAndFailures) {
    ResetRunOutcome();
    for (int32_t result : {0, 1, 2, 3, 4, 5, -1}) ApplyResultRule(static_cast<ReplaceFileResult>(result));
    EXPECT_EQ(GetRebootNeeded(), 1);
    EXPECT_EQ(GetErrorCount(), 2);
    EXPECT_EQ(ReportError(3, 16, 0, 0, 7), 0);
}

}  // namespace
