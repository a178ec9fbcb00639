#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/guards.h"
#include "base/platform.h"
#include "tests/bench/walk_cache.h"
#include "tests/support/probe_seam.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void Write(const std::wstring& path, const std::string& content) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
}

// As a check remembers a file: the stamp through the handle it read from.
void Remember(WalkFileCache& cache, const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FileStamp stamp;
    ASSERT_TRUE(ReadFileStamp(file.get(), &stamp));
    cache.RememberClean(path.c_str(), stamp);
}

FILETIME WriteTime(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME written{};
    GetFileTime(file.get(), nullptr, nullptr, &written);
    return written;
}

void SetWriteTime(const std::wstring& path, const FILETIME& time) {
    const UniqueFileHandle file(
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &time));
}

class WalkCache : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir / std::wstring(L"\x0414\x043E\x043C");  // a folder named in Cyrillic
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        path = folder + L"\\\x30D5\x30A1\x30A4\x30EB.exe";
        Write(path, "clean program");
    }
    void TearDown() override { ResetProbeAnswers(); }

    TempDir dir;
    std::wstring folder;
    std::wstring path;
    WalkFileCache cache;
};

TEST_F(WalkCache, KnowsOnlyTheSameFileUnchanged) {
    EXPECT_EQ(cache.KnownClean(path.c_str()), 0);
    Remember(cache, path);
    EXPECT_EQ(cache.KnownClean(path.c_str()), 1);
    EXPECT_EQ(cache.KnownClean(path.c_str()), 1);
    // Another spelling of the path is another key.
    EXPECT_EQ(cache.KnownClean((folder + L"\\.\\\x30D5\x30A1\x30A4\x30EB.exe").c_str()), 0);

    // Written since, even at the same size.
    Write(path, "worm program!");
    EXPECT_EQ(cache.KnownClean(path.c_str()), 0);
    Remember(cache, path);
    EXPECT_EQ(cache.KnownClean(path.c_str()), 1);
    EXPECT_EQ(cache.Count(), 1u);

    // Another file put in its place, with the same size and write time.
    const std::wstring other = folder + L"\\other.exe";
    Write(other, "worm program!");
    SetWriteTime(other, WriteTime(path));
    ASSERT_TRUE(MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(cache.KnownClean(path.c_str()), 0);

    // Gone, or a folder of that name now.
    Remember(cache, path);
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_EQ(cache.KnownClean(path.c_str()), 0);
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    EXPECT_EQ(cache.KnownClean(path.c_str()), 0);
}

TEST_F(WalkCache, HoldsAsManyFilesAsAWalkMeets) {
    for (int i = 0; i < 150; ++i) {
        const std::wstring file = folder + L"\\p" + std::to_wstring(i) + L".exe";
        Write(file, "program " + std::to_string(i));
        Remember(cache, file);
    }
    EXPECT_EQ(cache.Count(), 150u);
    for (int i = 0; i < 150; ++i) {
        EXPECT_EQ(cache.KnownClean((folder + L"\\p" + std::to_wstring(i) + L".exe").c_str()), 1) << i;
    }
}

// The 9x family compares through the ANSI functions: a path that the code
// page cannot hold is never known there.
TEST_F(WalkCache, NineXFamilyComparesThroughAnsiPaths) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for code page 1252, not " << GetACP();
    const std::wstring latin = dir / std::wstring(L"\xC4rger.exe");
    Write(latin, "clean program");
    Remember(cache, latin);
    Remember(cache, path);
    SetProbeAnswer(ProbeKind, PlatformCode(PlatformKind::Win9x));
    EXPECT_EQ(cache.KnownClean(latin.c_str()), 1);
    EXPECT_EQ(cache.KnownClean(path.c_str()), 0);
}

}  // namespace
