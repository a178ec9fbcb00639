#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "base/guards.h"
#include "base/platform.h"
#include "base/wide_files.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"

namespace {

// Names outside the ANSI code page of the test machine (1252): a folder in
// Cyrillic, files in Japanese; and a Latin name that the code page holds.
const std::wstring Cyrillic = L"\x0414\x043E\x043C";    // Дом
const std::wstring Japanese = L"\x30D5\x30A1\x30A4\x30EB.exe";  // ファイル.exe
const std::wstring JapaneseToo = L"\x65B0\x3057\x3044.exe";     // 新しい.exe
const std::wstring Latin = L"\xC4rger.exe";                       // Ärger.exe

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Text(const std::wstring& wide) {
    char text[4 * MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text, sizeof text, nullptr, nullptr);
    return text;
}

// Made and read with the W functions themselves, whatever family is probed.
void MakeFile(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Text(path);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadThrough(HANDLE file) {
    char buffer[64];
    DWORD read = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) return "<unreadable>";
    return std::string(buffer, read);
}

class WideFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252, not " << GetACP();
        folder = dir / Cyrillic;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    void TearDown() override { ResetProbeAnswers(); }

    TempDir dir;
    std::wstring folder;
};

// Each function on a Japanese name in a Cyrillic folder, as the NT family
// runs them: open, attributes, short name, move and delete.
TEST_F(WideFiles, NtFamilyReachesNamesOutsideTheCodePage) {
    SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Nt));
    const std::wstring path = folder + L"\\" + Japanese;
    const std::wstring moved = folder + L"\\" + JapaneseToo;
    MakeFile(path, "worm bytes");

    {
        UniqueFileHandle file(WideCreateFile(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        EXPECT_EQ(ReadThrough(file.get()), "worm bytes");
    }

    const DWORD attributes = WideGetFileAttributes(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    ASSERT_TRUE(WideSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(WideGetFileAttributes(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ASSERT_TRUE(WideSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(WideGetFileAttributes(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    // The short name leads to the same file; a small buffer gets the size it needs.
    wchar_t shortPath[MAX_PATH];
    const DWORD length = WideGetShortPathName(path.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(WideGetShortPathName(path.c_str(), shortPath, 3), length + 1);
    ASSERT_EQ(WideGetShortPathName(path.c_str(), shortPath, MAX_PATH), length);
    {
        UniqueFileHandle file(WideCreateFile(shortPath, GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file) << Text(shortPath);
        EXPECT_EQ(ReadThrough(file.get()), "worm bytes");
    }

    MakeFile(moved, "other");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WideMoveFileEx(path.c_str(), moved.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_TRUE(WideMoveFileEx(path.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(Exists(path));
    {
        UniqueFileHandle file(WideCreateFile(moved.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(ReadThrough(file.get()), "worm bytes");
    }

    ASSERT_TRUE(WideDeleteFile(moved.c_str()));
    EXPECT_FALSE(Exists(moved));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WideGetFileAttributes(moved.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// The 9x family goes through the A functions: a name that the code page
// cannot hold fails before any call and the file stays untouched, while a
// Latin name inside the code page works throughout.
TEST_F(WideFiles, NineXFamilyTakesTheAnsiFunctions) {
    SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Win9x));
    const std::wstring path = folder + L"\\" + Japanese;
    MakeFile(path, "worm bytes");
    wchar_t shortPath[MAX_PATH];
    const std::wstring latinTarget = dir / Latin;
    MakeFile(latinTarget, "other");

    const std::pair<const char*, std::function<bool()>> calls[] = {
        {"CreateFile",
         [&] {
             return WideCreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) !=
                    INVALID_HANDLE_VALUE;
         }},
        {"GetFileAttributes", [&] { return WideGetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }},
        {"SetFileAttributes", [&] { return WideSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0; }},
        {"MoveFileEx from", [&] { return WideMoveFileEx(path.c_str(), (dir / L"x.exe").c_str(), 0) != 0; }},
        {"MoveFileEx to",
         [&] { return WideMoveFileEx(latinTarget.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; }},
        {"GetShortPathName", [&] { return WideGetShortPathName(path.c_str(), shortPath, MAX_PATH) != 0; }},
        {"DeleteFile", [&] { return WideDeleteFile(path.c_str()) != 0; }},
    };
    for (const auto& [name, call] : calls) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(call()) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << name;
    }
    EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(Exists(path));

    EXPECT_TRUE(Exists(latinTarget));
    ASSERT_TRUE(DeleteFileW(latinTarget.c_str()));

    const std::wstring latin = dir / Latin;
    const std::wstring latinMoved = dir / L"\xD6l.exe";  // Öl.exe
    MakeFile(latin, "worm bytes");
    {
        UniqueFileHandle file(WideCreateFile(latin.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                             nullptr));
        ASSERT_TRUE(file);
        EXPECT_EQ(ReadThrough(file.get()), "worm bytes");
    }
    ASSERT_TRUE(WideSetFileAttributes(latin.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(WideGetFileAttributes(latin.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ASSERT_TRUE(WideSetFileAttributes(latin.c_str(), FILE_ATTRIBUTE_NORMAL));
    const DWORD length = WideGetShortPathName(latin.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(WideGetShortPathName(latin.c_str(), shortPath, 3), length + 1);
    ASSERT_TRUE(WideMoveFileEx(latin.c_str(), latinMoved.c_str(), 0));
    EXPECT_FALSE(Exists(latin));
    ASSERT_TRUE(WideDeleteFile(latinMoved.c_str()));
    EXPECT_FALSE(Exists(latinMoved));
}

TEST(AnsiConversions, ExactOnlyWhereTheCodePageHoldsEveryCharacter) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252, not " << GetACP();
    wchar_t wide[16];
    ASSERT_TRUE(AnsiToWide("C:\\B\xE4r", wide, 16));
    EXPECT_EQ(std::wstring(wide), L"C:\\B\xE4r");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AnsiToWide("C:\\B\xE4r", wide, 6));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    char ansi[16];
    ASSERT_TRUE(WideToAnsi(L"C:\\B\xE4r", ansi, sizeof ansi));
    EXPECT_STREQ(ansi, "C:\\B\xE4r");
    for (const wchar_t* lacking : {L"C:\\\x0414\x043E\x043C", L"C:\\\x0100", L"\xD83D\xDE00"}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(WideToAnsi(lacking, ansi, sizeof ansi)) << Text(lacking);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WideToAnsi(L"C:\\B\xE4r", ansi, 6));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    // As the ANSI functions give such a path: a look-alike or "?".
    ASSERT_TRUE(WideToAnsiAsSystem(L"C:\\\x0414\x043E\x043C\\\x0100.exe", ansi, sizeof ansi));
    EXPECT_STREQ(ansi, "C:\\???\\A.exe");
}

TEST(ShowPath, CodePageBytesAndEscapes) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252, not " << GetACP();
    const struct {
        const wchar_t* path;
        const char* shown;
    } cases[] = {
        {L"C:\\Tools\\idle.exe", "C:\\Tools\\idle.exe"},
        {L"C:\\B\xE4r\\\xC4rger.exe \x20AC", "C:\\B\xE4r\\\xC4rger.exe \x80"},  // the euro sign is 0x80 in 1252
        {L"C:\\\x0414\x043E\x043C\\w.exe", "C:\\<U+0414><U+043E><U+043C>\\w.exe"},
        {L"C:\\\x30D5\x0100\xD83D\xDE00.exe", "C:\\<U+30D5><U+0100><U+1F600>.exe"},
    };
    for (const auto& c : cases) EXPECT_STREQ(ShowPath(c.path).text, c.shown) << c.shown;

    // The longest path of MAX_PATH characters, none of them held, fits whole.
    const std::wstring longest(MAX_PATH - 1, L'\x0414');
    EXPECT_EQ(strlen(ShowPath(longest.c_str()).text), (MAX_PATH - 1) * 8u);
}

}  // namespace
