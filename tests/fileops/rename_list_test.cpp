#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/crc32.h"
#include "fileops/rename_list.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using enum RenameListStatus;

const char PathsKey[] = "Software\\Tessival\\Common\\Paths";

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string PlainBody(const Pairs& pairs) {
    std::string body;
    for (const auto& [from, to] : pairs) body += from + '\0' + to + '\0';
    return body + '\0';
}

std::string Header(uint32_t checksum) {
    RenameListHeader header{1, 2, checksum, 3};
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

// A list file as the scanner's other writers would make it.
void WriteList(const std::string& path, std::string plain) {
    const uint32_t checksum = Crc32(plain.data(), static_cast<uint32_t>(plain.size()));
    ScrambleRenameList(plain.data(), static_cast<uint32_t>(plain.size()));
    WriteWholeFile(path, Header(checksum) + plain);
}

std::string DescrambledBody(const std::string& file) {
    std::string body = file.substr(sizeof(RenameListHeader));
    ScrambleRenameList(body.data(), static_cast<uint32_t>(body.size()));
    return body;
}

RenameListHeader HeaderOf(const std::string& file) {
    RenameListHeader header{};
    std::memcpy(&header, file.data(), sizeof header);
    return header;
}

// The checksum cases need the real CRC-32, which the recognition step brings.
bool Crc32IsBuilt() { return Crc32("123456789", 9) == 0xCBF43926u; }

RenameListStatus WritePairs(const Pairs& pairs) {
    RenameListStatus status{-1};
    UniqueFile file = OpenRenameList(RenameListMode::Write, nullptr, &status);
    if (!file) return status;
    for (const auto& [from, to] : pairs) EXPECT_EQ(AddRenamePair(file.get(), from.c_str(), to.c_str(), &status), 1);
    EXPECT_EQ(FinishRenameList(std::move(file), &status), 1);
    return status;
}

struct ReadResult {
    RenameListStatus status;
    std::string body;  // empty when none was handed over
};

// Reads the list; bodySize is how much of the handed-over body to keep.
ReadResult ReadList(size_t bodySize) {
    ReadResult result{RenameListStatus{-1}, {}};
    UniqueMemory body(std::malloc(1));
    UniqueFile file = OpenRenameList(RenameListMode::Read, &body, &result.status);
    if (!file) {
        EXPECT_EQ(body.get(), nullptr);
        return result;
    }
    EXPECT_NE(body.get(), nullptr);
    EXPECT_EQ(std::ftell(file.get()), static_cast<long>(sizeof(RenameListHeader) + bodySize));
    result.body.assign(static_cast<const char*>(body.get()), bodySize);
    return result;
}

// An open in either mode fails with expected and hands over no body.
void ExpectOpenRefused(RenameListStatus expected) {
    for (const RenameListMode mode : {RenameListMode::Write, RenameListMode::Read}) {
        SCOPED_TRACE(mode == RenameListMode::Write ? "write" : "read");
        RenameListStatus status{-1};
        UniqueMemory body(std::malloc(1));
        EXPECT_EQ(OpenRenameList(mode, &body, &status).get(), nullptr);
        EXPECT_EQ(status, expected);
        EXPECT_EQ(body.get(), nullptr);
    }
}

bool FolderIsEmpty(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != ".." && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) empty = false;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return empty;
}

class RenameList : public ::testing::Test {
protected:
    void SetUp() override { SetDirectory(RegistryFixture::Sz(dir_.path())); }
    void SetDirectory(const std::string& value, DWORD type = REG_SZ) {
        registry_.Set(HKEY_LOCAL_MACHINE, PathsKey, "Common", type, value);
    }
    std::string ListPath() const { return dir_ / "PVXK.REN"; }

    TempDir dir_;
    RegistryFixture registry_;
};

TEST_F(RenameList, WrittenListReadsBackWithItsPairs) {
    const Pairs onePair{{"C:\\Old.exe", "C:\\New.exe"}};
    const Pairs twoPairs{{"C:\\Program Files\\Long Name.exe", "C:\\Program Files\\Long Name.old"},
                         {"D:\\a", "D:\\b"}};
    for (const Pairs& pairs : {onePair, twoPairs}) {
        const std::string plain = PlainBody(pairs);
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const DWORD before = GetTickCount();
        ASSERT_EQ(WritePairs(pairs), Ok);
        const DWORD after = GetTickCount();

        const std::string file = ReadWholeFile(ListPath());
        ASSERT_EQ(file.size(), 16 + plain.size());
        const std::string onDisk = file.substr(16);
        EXPECT_NE(onDisk, plain) << "the body is stored scrambled";
        EXPECT_EQ(DescrambledBody(file), plain);
        EXPECT_EQ(plain.substr(plain.size() - 2), std::string(2, '\0'));
        const RenameListHeader header = HeaderOf(file);
        EXPECT_GE(header.tickCount, before);
        EXPECT_LE(header.tickCount, after);
        EXPECT_EQ(header.oemId, info.dwOemId);
        EXPECT_EQ(header.processorType, info.dwProcessorType & 0xFFFF);
        EXPECT_EQ(header.checksum, Crc32(plain.data(), static_cast<uint32_t>(plain.size())));

        const ReadResult read = ReadList(plain.size());
        EXPECT_EQ(read.status, Ok);
        EXPECT_EQ(read.body, plain);
        // Every file of the list was closed again.
        EXPECT_TRUE(DeleteFileA(ListPath().c_str())) << GetLastError();
    }
}

TEST_F(RenameList, OnePairMatchesTheScannersChecksum) {
    if (!Crc32IsBuilt()) GTEST_SKIP() << "Crc32 is still a placeholder in this build";
    ASSERT_EQ(WritePairs({{"C:\\Old.exe", "C:\\New.exe"}}), Ok);
    const std::string file = ReadWholeFile(ListPath());
    EXPECT_EQ(file.size(), 16u + 10 + 1 + 10 + 1 + 1);
    EXPECT_EQ(HeaderOf(file).checksum, 0xF9E8DC41u);
}

TEST_F(RenameList, WritingStartsANewList) {
    ASSERT_EQ(WritePairs({{"C:\\one", "C:\\two"}, {"C:\\three", "C:\\four"}}), Ok);
    const std::string plain = PlainBody({{"C:\\x", "C:\\y"}});
    ASSERT_EQ(WritePairs({{"C:\\x", "C:\\y"}}), Ok);
    EXPECT_EQ(ReadWholeFile(ListPath()).size(), 16 + plain.size());
    const ReadResult read = ReadList(plain.size());
    EXPECT_EQ(read.status, Ok);
    EXPECT_EQ(read.body, plain);
}

TEST_F(RenameList, ReadingRefusesFilesOutsideTheSizeLimits) {
    const std::string pair = PlainBody({{"C:\\a", "C:\\b"}});
    struct Case {
        size_t fileSize;
        RenameListStatus status;
    };
    for (const Case c : {Case{0, TooShort}, Case{1, TooShort}, Case{16, TooShort}, Case{8193, TooLong},
                         Case{8192, Ok}, Case{17 + pair.size(), Ok}}) {
        SCOPED_TRACE(c.fileSize);
        if (c.fileSize <= 16) {
            WriteWholeFile(ListPath(), Header(0).substr(0, c.fileSize));
        } else {
            // Bytes behind the end of the list belong to no pair.
            WriteList(ListPath(), pair + std::string(c.fileSize - 16 - pair.size(), 'z'));
        }
        const ReadResult read = ReadList(c.fileSize - 16);
        EXPECT_EQ(read.status, c.status);
        if (c.status == Ok) {
            EXPECT_EQ(read.body.substr(0, pair.size()), pair);
        }
        EXPECT_TRUE(DeleteFileA(ListPath().c_str())) << GetLastError();
    }
}

TEST_F(RenameList, AnyChangedBodyByteFailsTheChecksum) {
    if (!Crc32IsBuilt()) GTEST_SKIP() << "Crc32 is still a placeholder in this build";
    const Pairs pairs{{"C:\\Old.exe", "C:\\New.exe"}};
    const std::string plain = PlainBody(pairs);
    ASSERT_EQ(WritePairs(pairs), Ok);
    const std::string good = ReadWholeFile(ListPath());
    for (size_t at = 16; at < good.size(); ++at) {
        for (const unsigned char flip : {0x01, 0x80, 0xFF}) {
            std::string bad = good;
            bad[at] = static_cast<char>(bad[at] ^ flip);
            WriteWholeFile(ListPath(), bad);
            EXPECT_EQ(ReadList(plain.size()).status, ChecksumMismatch) << "byte " << at << " ^ " << int{flip};
        }
    }
    // The other header fields are not examined.
    std::string header = good;
    for (size_t at : {0u, 4u, 12u}) header[at] = static_cast<char>(header[at] ^ 0x55);
    WriteWholeFile(ListPath(), header);
    EXPECT_EQ(ReadList(plain.size()).status, Ok);
}

TEST_F(RenameList, BodyNeedsAnEndAndWholePairs) {
    struct Case {
        std::string plain;
        RenameListStatus status;
    };
    const Case cases[] = {
        {std::string("C:\\a\0\0", 6), BadBody},               // one path, then the end
        {std::string("C:\\a\0C:\\b\0C:\\c\0\0", 16), BadBody},  // three paths
        {std::string("C:\\a\0C:\\b\0", 10), BadBody},          // no end
        {"C:\\a", BadBody},                                      // no NUL at all
        {std::string("\0", 1), BadBody},
        {std::string("\0\0", 2), BadBody},  // an empty first path, then the end
        {std::string("C:\\a\0C:\\b\0\0", 11), Ok},
        {std::string("C:\\a\0C:\\b\0\0C:\\c\0", 15), Ok},  // after the end: ignored
        {std::string("\0C:\\b\0\0", 7), Ok},               // an empty first string still counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.plain));
        WriteList(ListPath(), c.plain);
        const ReadResult read = ReadList(c.plain.size());
        EXPECT_EQ(read.status, c.status);
        EXPECT_EQ(IsValidRenameListBody(c.plain.data(), static_cast<uint32_t>(c.plain.size())), c.status == Ok);
    }
}

TEST_F(RenameList, FileNameJoinsTheScannersDirectory) {
    char cwd[MAX_PATH];
    ASSERT_TRUE(GetCurrentDirectoryA(sizeof cwd, cwd));
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.path().c_str()));
    struct Case {
        std::string value;
        std::string listPath;
    };
    const Case cases[] = {
        {dir_.path(), dir_ / "PVXK.REN"},
        {dir_.path() + "\\", dir_ / "PVXK.REN"},
        {"Scan", dir_ / "ScanPVXK.REN"},  // no backslash: relative to the current folder
    };
    const std::string plain = PlainBody({{"C:\\a", "C:\\b"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        SetDirectory(RegistryFixture::Sz(c.value));
        EXPECT_EQ(WritePairs({{"C:\\a", "C:\\b"}}), Ok);
        EXPECT_EQ(ReadList(plain.size()).status, Ok);
        EXPECT_EQ(ReadWholeFile(c.listPath).size(), 16 + plain.size());
        EXPECT_TRUE(DeleteFileA(c.listPath.c_str())) << GetLastError();
    }
    SetCurrentDirectoryA(cwd);
}

TEST_F(RenameList, NoDirectoryValueNoFile) {
    const std::string path = RegistryFixture::Sz(dir_.path());
    struct Case {
        const char* what;
        bool present;
        DWORD type;
        std::string data;
    };
    const Case cases[] = {
        {"missing", false, REG_SZ, ""},
        {"binary", true, REG_BINARY, path},
        {"expandable", true, REG_EXPAND_SZ, path},
        {"multi", true, REG_MULTI_SZ, path + '\0'},
        {"number", true, REG_DWORD, std::string(4, '\0')},
        {"not terminated", true, REG_SZ, dir_.path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.present) {
            SetDirectory(c.data, c.type);
        } else {
            registry_.Remove(HKEY_LOCAL_MACHINE, PathsKey, "Common");
        }
        ExpectOpenRefused(NoScannerDirectory);
        EXPECT_TRUE(FolderIsEmpty(dir_.path()));
    }
}

TEST_F(RenameList, DirectoryValueMustFitWithItsTerminator) {
    struct Case {
        std::string data;
        DWORD type;
        uint32_t size;
        int32_t result;
    };
    const std::string s259(259, 'd');
    const std::string s260(260, 'd');
    const Case cases[] = {
        {RegistryFixture::Sz("C:\\Scan"), REG_SZ, 260, 0},
        {RegistryFixture::Sz(s259), REG_SZ, 260, 0},
        {RegistryFixture::Sz(s260), REG_SZ, 260, -2},
        {s260, REG_SZ, 260, -2},                        // fits only without a terminator
        {"C:\\Scan", REG_SZ, 260, -1},                  // stored without a terminator
        {RegistryFixture::Sz("C:\\Scan"), REG_SZ, 7, -2},
        {RegistryFixture::Sz("C:\\Scan"), REG_SZ, 8, 0},
        {"C:\\Scan", REG_SZ, 7, -2},
        {"", REG_SZ, 260, -1},
        {RegistryFixture::Sz("C:\\Scan"), REG_BINARY, 260, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.data) + " in " + std::to_string(c.size));
        SetDirectory(c.data, c.type);
        char buffer[300];
        std::memset(buffer, 0x7F, sizeof buffer);
        EXPECT_EQ(ReadScannerDirectory(buffer, c.size), c.result);
        if (c.result == 0) {
            EXPECT_STREQ(buffer, c.data.c_str());
        }
        for (size_t i = c.size; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], 0x7F) << i;
    }
}

TEST_F(RenameList, PathLongerThanMaxPathIsRefusedBeforeCreation) {
    // Folders whose full names are 250 and 251 characters long: with "\PVXK.REN"
    // and the terminator the first fills the 260 bytes exactly.
    std::string folder = dir_.path();
    while (folder.size() + 1 + 100 < 250) {
        folder += "\\" + std::string(100, 'f');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
    }
    const std::string fits = folder + "\\" + std::string(250 - folder.size() - 1, 'g');
    const std::string tooLong = fits + "h";
    ASSERT_EQ(fits.size(), 250u);
    ASSERT_TRUE(CreateDirectoryA(fits.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr)) << GetLastError();

    for (const std::string& value : {fits, fits + "\\"}) {
        SetDirectory(RegistryFixture::Sz(value));
        EXPECT_EQ(WritePairs({{"C:\\a", "C:\\b"}}), Ok);
        EXPECT_TRUE(DeleteFileA((fits + "\\PVXK.REN").c_str())) << value.size() << " " << GetLastError();
    }
    SetDirectory(RegistryFixture::Sz(tooLong));
    ExpectOpenRefused(OpenFailed);
    EXPECT_TRUE(FolderIsEmpty(tooLong));
    EXPECT_TRUE(FolderIsEmpty(folder));
}

// Pairs the scanner could not read back are refused, not reported as handed over.
TEST_F(RenameList, PairMustBeReadableByTheScanner) {
    RenameListStatus status{-1};
    UniqueFile list = OpenRenameList(RenameListMode::Write, nullptr, &status);
    ASSERT_NE(list.get(), nullptr);
    FILE* const file = list.get();
    EXPECT_EQ(AddRenamePair(file, "", "C:\\b", &status), 0);
    EXPECT_EQ(status, IoError);
    EXPECT_EQ(AddRenamePair(file, "C:\\a", "", &status), 0);
    EXPECT_EQ(status, IoError);
    // 16 + 4001 + 4174 + 1 = 8192 bytes: the largest list the scanner reads.
    const std::string from(4000, 'a');
    const std::string to(4173, 'b');
    EXPECT_EQ(AddRenamePair(file, from.c_str(), (to + "b").c_str(), &status), 0);
    EXPECT_EQ(status, IoError);
    EXPECT_EQ(AddRenamePair(file, from.c_str(), to.c_str(), &status), 1);
    EXPECT_EQ(status, Ok);
    EXPECT_EQ(AddRenamePair(file, "C:\\a", "C:\\b", &status), 0);
    EXPECT_EQ(status, IoError);
    EXPECT_EQ(FinishRenameList(std::move(list), &status), 1);
    EXPECT_EQ(status, Ok);
    const std::string plain = PlainBody({{from, to}});
    EXPECT_EQ(ReadWholeFile(ListPath()).size(), 8192u);
    EXPECT_EQ(ReadList(plain.size()).body, plain);
}

TEST_F(RenameList, FailedFinishClosesTheFile) {
    ASSERT_EQ(WritePairs({{"C:\\a", "C:\\b"}}), Ok);
    const std::string before = ReadWholeFile(ListPath());
    // A list opened for reading cannot be written to.
    RenameListStatus status{-1};
    UniqueMemory body;
    UniqueFile file = OpenRenameList(RenameListMode::Read, &body, &status);
    ASSERT_NE(file.get(), nullptr);
    body.reset();
    EXPECT_EQ(AddRenamePair(file.get(), "C:\\c", "C:\\d", &status), 0);
    EXPECT_EQ(status, IoError);
    EXPECT_EQ(FinishRenameList(std::move(file), &status), 0);
    EXPECT_EQ(status, IoError);
    EXPECT_EQ(ReadWholeFile(ListPath()), before);
    EXPECT_TRUE(DeleteFileA(ListPath().c_str())) << GetLastError();
}

TEST_F(RenameList, OpenRefusesMissingListAndUnknownMode) {
    RenameListStatus status{-1};
    UniqueMemory body(std::malloc(1));
    EXPECT_EQ(OpenRenameList(RenameListMode::Read, &body, &status).get(), nullptr);
    EXPECT_EQ(status, OpenFailed);
    EXPECT_EQ(body.get(), nullptr);
    EXPECT_EQ(OpenRenameList(RenameListMode{2}, &body, &status).get(), nullptr);
    EXPECT_EQ(status, OpenFailed);
    EXPECT_TRUE(FolderIsEmpty(dir_.path()));
}

}  // namespace
