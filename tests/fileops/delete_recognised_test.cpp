#include "fileops/delete_recognised.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/file_identity.h"
#include "base/guards.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "fileops/file_target.h"
#include "fileops/quarantine.h"
#include "fileops/replace_result.h"
#include "tests/fileops/file_ops_test.h"
#include "tests/support/child_process.h"
#include "tests/support/holder_process.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"

namespace {

using enum ReplaceFileResult;

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
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "unreadable SID";
    std::string copy = text;
    LocalFree(text);
    return copy;
}

struct Ace {
    BYTE type;
    ACCESS_MASK mask;
    std::string sid;
};

// The entries of a descriptor's access list, and whether it inherits
// nothing; false where it has none, or an entry cannot be read.
bool ReadAccessList(PSECURITY_DESCRIPTOR descriptor, std::vector<Ace>* aces, bool* isProtected) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* acl = nullptr;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || acl == nullptr) {
        return false;
    }
    *isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) return false;
        aces->push_back({ace->Header.AceType, ace->Mask, SidText(&ace->SidStart)});
    }
    return true;
}

// Whom an access list grants what: "S-1-5-18 S-1-5-32-544" for SYSTEM and
// Administrators with every right, "protected" when it inherits nothing.
std::string Granted(PSECURITY_DESCRIPTOR descriptor) {
    std::vector<Ace> aces;
    bool isProtected = false;
    if (!ReadAccessList(descriptor, &aces, &isProtected)) return "no readable access list";
    std::string granted;
    for (const Ace& ace : aces) {
        const bool whole = ace.type == ACCESS_ALLOWED_ACE_TYPE && ace.mask == FILE_ALL_ACCESS;
        granted += (granted.empty() ? "" : " ") + ace.sid + (whole ? "" : "(other)");
    }
    return granted + (isProtected ? " protected" : "");
}

class DeleteRecognisedTest : public FileOpsTest {};

// The target names the file once: the form shown is ShowPath's on both
// families, and the 9x family's file functions are given its ANSI form only
// where the code page gives the very bytes back, within a file operation's
// 263 characters.
TEST_F(DeleteRecognisedTest, TargetHasAnAnsiFormOnlyWhereThe9xFamilyTakesIt) {
    const std::wstring plain = L"C:\\WINDOWS\\SYSTEM\\winupdate.exe";
    const std::wstring fits = L"C:\\" + std::wstring(260, L'f');
    const std::wstring outside = L"C:\\\u0414\u043e\u043c\\w.exe";
    const struct {
        PlatformKind kind;
        std::wstring path;
        bool ansi;
    } cases[] = {
        {PlatformKind::Win9x, plain, true},      {PlatformKind::Win9x, fits, true},
        {PlatformKind::Win9x, fits + L"o", false}, {PlatformKind::Win9x, outside, false},
        {PlatformKind::Nt, plain, false},        {PlatformKind::Nt, outside, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "nt=" << (c.kind == PlatformKind::Nt) << " length=" << c.path.size()
                                        << " ansi=" << c.ansi);
        SetProbeAnswer(ProbeKind, PlatformCode(c.kind));
        const FileTarget target = TargetOf(c.path.c_str());
        EXPECT_EQ(target.path, c.path.c_str());
        EXPECT_EQ(target.ansi, c.ansi);
        EXPECT_STREQ(target.shown.text, ShowPath(c.path.c_str()).text);
    }
}

// The recognising handle is still open when the second open is compared,
// so the identity tells the files apart on the NT family. The 9x family has
// no user boundary, and FAT may number a file anew once it is closed there:
// the content read through the second open is the proof, not the index.
TEST_F(DeleteRecognisedTest, IdentityDecidesOnNtAndContentOn9x) {
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
        const std::wstring wide = Widen(path);
        EXPECT_EQ(
            DeleteRecognisedFile(TargetOf(wide.c_str()), recognised, c.stillRecognised ? AnyContent : NoContent, 0),
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
    EXPECT_TRUE(GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed))
        << GetLastError();
    std::vector<Ace> aces;
    bool isProtected = false;
    if (!ReadAccessList(buffer, &aces, &isProtected)) return true;
    return std::any_of(aces.begin(), aces.end(),
                       [](const Ace& ace) { return ace.type == ACCESS_ALLOWED_ACE_TYPE && ace.sid == "S-1-1-0"; });
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
class RestartSafety : public DeleteRecognisedTest {
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
        DeleteRecognisedTest::TearDown();
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

        const std::wstring wide = Widen(c.path);
        EXPECT_EQ(DeleteRecognisedFile(TargetOf(wide.c_str()), recognised, AnyContent, 0), c.result);
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

        EXPECT_EQ(DeleteRecognisedFile(TargetOf(path.c_str()), recognised, AnyContent, 0), run ? DoneAtReboot : Done);
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

}  // namespace
