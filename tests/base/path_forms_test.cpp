// Path forms alone: no platform, so these run natively too. The NT forms are
// the strings that NT 4.0, 2000 and XP report for their own processes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/path_forms.h"

namespace {

std::string Show(const std::wstring& text) {
    std::string shown;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            char escape[16];
            snprintf(escape, sizeof escape, "{%X}", static_cast<unsigned>(c));
            shown += escape;
        }
    }
    return shown;
}

struct ConversionCase {
    const wchar_t* path;
    const wchar_t* windowsDirectory;
    Win32PathResult result;
    const wchar_t* win32;
};

TEST(ToWin32Path, TurnsTheNtFormsIntoWin32Paths) {
    using R = Win32PathResult;
    const ConversionCase cases[] = {
        // smss.exe on NT 4.0 and 2000, and on XP.
        {L"\\SystemRoot\\System32\\smss.exe", L"C:\\WINNT", R::Converted, L"C:\\WINNT\\System32\\smss.exe"},
        {L"\\SystemRoot\\System32\\smss.exe", L"C:\\WINDOWS", R::Converted, L"C:\\WINDOWS\\System32\\smss.exe"},
        {L"\\systemroot\\system32\\smss.exe", L"D:\\WINNT", R::Converted, L"D:\\WINNT\\system32\\smss.exe"},
        {L"\\SystemRoot\\System32\\smss.exe", L"C:\\", R::Converted, L"C:\\System32\\smss.exe"},
        // csrss.exe and winlogon.exe.
        {L"\\??\\C:\\WINNT\\system32\\csrss.exe", L"C:\\WINNT", R::Converted, L"C:\\WINNT\\system32\\csrss.exe"},
        {L"\\??\\C:\\WINDOWS\\system32\\csrss.exe", L"C:\\WINDOWS", R::Converted,
         L"C:\\WINDOWS\\system32\\csrss.exe"},
        {L"\\??\\C:\\WINDOWS\\system32\\winlogon.exe", L"C:\\WINDOWS", R::Converted,
         L"C:\\WINDOWS\\system32\\winlogon.exe"},
        {L"\\\\?\\C:\\Program Files\\Tool\\tool.exe", L"C:\\WINDOWS", R::Converted,
         L"C:\\Program Files\\Tool\\tool.exe"},
        {L"\\??\\C:\\\x0414\x043E\x043C\\w.exe", L"C:\\WINDOWS", R::Converted, L"C:\\\x0414\x043E\x043C\\w.exe"},
        // Shares.
        {L"\\??\\UNC\\server\\share\\w.exe", L"C:\\WINDOWS", R::Converted, L"\\\\server\\share\\w.exe"},
        {L"\\\\?\\UNC\\server\\share\\w.exe", L"C:\\WINDOWS", R::Converted, L"\\\\server\\share\\w.exe"},
        {L"\\\\?\\unc\\server\\share\\w.exe", L"C:\\WINDOWS", R::Converted, L"\\\\server\\share\\w.exe"},
        // A volume without a drive letter keeps its Win32 namespace name.
        {L"\\??\\Volume{5a3e}\\w.exe", L"C:\\WINDOWS", R::Converted, L"\\\\?\\Volume{5a3e}\\w.exe"},
        {L"\\\\?\\Volume{5a3e}\\w.exe", L"C:\\WINDOWS", R::Unchanged, L"\\\\?\\Volume{5a3e}\\w.exe"},
        // Win32 paths, and the bare names of a toolhelp walk.
        {L"C:\\WINDOWS\\explorer.exe", L"C:\\WINDOWS", R::Unchanged, L"C:\\WINDOWS\\explorer.exe"},
        {L"\\\\server\\share\\w.exe", L"C:\\WINDOWS", R::Unchanged, L"\\\\server\\share\\w.exe"},
        {L"\\\\.\\C:\\w.exe", L"C:\\WINDOWS", R::Unchanged, L"\\\\.\\C:\\w.exe"},
        {L"\\\\?\\C:", L"C:\\WINDOWS", R::Unchanged, L"\\\\?\\C:"},
        {L"explorer.exe", L"C:\\WINDOWS", R::Unchanged, L"explorer.exe"},
        {L"", L"C:\\WINDOWS", R::Unchanged, L""},
        // Objects that no drive letter or share reaches.
        {L"\\Device\\HarddiskVolume1\\WINDOWS\\system32\\w.exe", L"C:\\WINDOWS", R::NotAFilePath, L""},
        {L"\\SystemRoot", L"C:\\WINDOWS", R::NotAFilePath, L""},
        {L"\\??\\", L"C:\\WINDOWS", R::NotAFilePath, L""},
        {L"\\\\?\\", L"C:\\WINDOWS", R::NotAFilePath, L""},
        // A share whose server name would make it a device or namespace path.
        {L"\\??\\UNC\\?\\C:\\w.exe", L"C:\\WINDOWS", R::NotAFilePath, L""},
        {L"\\\\?\\UNC\\.\\C:\\w.exe", L"C:\\WINDOWS", R::NotAFilePath, L""},
        {L"\\??\\UNC\\\\share\\w.exe", L"C:\\WINDOWS", R::NotAFilePath, L""},
        {L"\\??\\UNC\\", L"C:\\WINDOWS", R::NotAFilePath, L""},
        {L"\\SystemRoot\\System32\\smss.exe", L"", R::NoWindowsDirectory, L""},
        {L"\\SystemRoot\\System32\\smss.exe", nullptr, R::NoWindowsDirectory, L""},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(Show(c.path) + " in " + Show(c.windowsDirectory != nullptr ? c.windowsDirectory : L"(none)"));
        wchar_t out[64];
        wmemset(out, L'#', 64);
        EXPECT_EQ(ToWin32Path(c.path, c.windowsDirectory, out, 64), c.result);
        EXPECT_EQ(Show(out), Show(c.win32));
        const bool refused = c.result != R::Unchanged && c.result != R::Converted;
        EXPECT_EQ(Win32PathRefusal(c.result) != nullptr, refused);
    }
}

TEST(ToWin32Path, RefusesAPathThatDoesNotFitWhole) {
    // "C:\W\a" needs 7 units with the terminator.
    for (const wchar_t* path : {L"\\SystemRoot\\a", L"\\??\\C:\\W\\a", L"C:\\W\\a"}) {
        SCOPED_TRACE(Show(path));
        wchar_t out[8];
        EXPECT_NE(ToWin32Path(path, L"C:\\W", out, 7), Win32PathResult::TooLong);
        EXPECT_EQ(Show(out), "C:\\W\\a");
        wmemset(out, L'#', 8);
        EXPECT_EQ(ToWin32Path(path, L"C:\\W", out, 6), Win32PathResult::TooLong);
        EXPECT_EQ(out[0], L'\0');
        EXPECT_EQ(out[6], L'#');
    }
    EXPECT_EQ(ToWin32Path(L"C:\\a", L"C:\\W", nullptr, 0), Win32PathResult::TooLong);
    EXPECT_NE(Win32PathRefusal(Win32PathResult::TooLong), nullptr);
}

// Where a path leads decides whether it may be opened at all; its literal
// form decides what an open reaches.
TEST(PathPlaces, SharesAreToldApartFromDrivesAndNamespaces) {
    const struct {
        const wchar_t* path;
        PathPlace place;
        wchar_t letter;
    } cases[] = {
        {L"C:\\x\\w.exe", PathPlace::Drive, L'C'},
        {L"\\\\?\\c:\\x\\w.exe", PathPlace::Drive, L'C'},
        {L"z:\\w.exe", PathPlace::Drive, L'Z'},
        {L"\\\\host\\share\\w.exe", PathPlace::Share, 0},
        {L"\\\\?\\UNC\\host\\share\\w.exe", PathPlace::Share, 0},
        {L"\\\\?\\unc\\host\\share\\w.exe", PathPlace::Share, 0},
        {L"\\\\host@SSL\\DavWWWRoot\\w.exe", PathPlace::Share, 0},
        {L"\\\\.\\C:\\x\\w.exe", PathPlace::Other, 0},
        {L"\\\\?\\Volume{0}\\w.exe", PathPlace::Other, 0},
        {L"\\\\?\\GLOBALROOT\\Device\\Mup\\host\\share\\w.exe", PathPlace::Other, 0},
        {L"w.exe", PathPlace::Other, 0},
        {L"C:w.exe", PathPlace::Other, 0},
        {L"", PathPlace::Other, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlaceOfPath(c.path), c.place) << Show(c.path);
        EXPECT_EQ(DriveLetterOf(c.path), c.letter) << Show(c.path);
    }
}

// The name of a mapped file lies below the device that a drive letter
// stands for, the whole device name and a separator after it.
TEST(DrivePathOnDevice, NamesTheFileOnTheDriveOfItsDevice) {
    const wchar_t* const device = L"\\Device\\HarddiskVolume1";
    const struct {
        const wchar_t* name;
        size_t size;
        const wchar_t* path;  // nullptr: not on the device, or no room
    } cases[] = {
        {L"\\Device\\HarddiskVolume1\\x\\w.exe", 64, L"D:\\x\\w.exe"},
        {L"\\DEVICE\\harddiskvolume1\\w.exe", 64, L"D:\\w.exe"},
        {L"\\Device\\HarddiskVolume10\\w.exe", 64, nullptr},
        {L"\\Device\\HarddiskVolume1", 64, nullptr},
        {L"\\Device\\Harddisk", 64, nullptr},
        {L"\\Device\\HarddiskVolume1\\w.exe", 9, L"D:\\w.exe"},
        {L"\\Device\\HarddiskVolume1\\w.exe", 8, nullptr},
    };
    for (const auto& c : cases) {
        wchar_t out[64] = L"untouched";
        EXPECT_EQ(DrivePathOnDevice(c.name, device, L'D', out, c.size), c.path != nullptr) << Show(c.name);
        if (c.path != nullptr) {
            EXPECT_EQ(std::wstring(out), c.path) << Show(c.name);
        }
    }
    wchar_t out[64];
    EXPECT_FALSE(DrivePathOnDevice(L"\\w.exe", L"", L'D', out, 64));
}

TEST(ToLiteralPath, NamesTheFileItselfWhereTheWin32RulesWouldRewriteIt) {
    const struct {
        const wchar_t* path;
        const wchar_t* literal;
    } cases[] = {
        {L"C:\\x\\nul.exe", L"\\\\?\\C:\\x\\nul.exe"},
        {L"C:\\x\\COM1", L"\\\\?\\C:\\x\\COM1"},
        {L"C:\\x\\w.exe. ", L"\\\\?\\C:\\x\\w.exe. "},
        {L"C:\\x...\\w.exe", L"\\\\?\\C:\\x...\\w.exe"},
        {L"\\\\host\\share\\aux.exe", L"\\\\?\\UNC\\host\\share\\aux.exe"},
        {L"\\\\?\\C:\\x\\nul.exe", L"\\\\?\\C:\\x\\nul.exe"},
        // Only the Win32 rules resolve these: left to them.
        {L"C:\\x\\..\\w.exe", L"C:\\x\\..\\w.exe"},
        {L"C:\\x\\.\\w.exe", L"C:\\x\\.\\w.exe"},
        {L"C:\\x\\\\w.exe", L"C:\\x\\\\w.exe"},
        {L"C:/x/w.exe", L"C:/x/w.exe"},
        {L"w.exe", L"w.exe"},
        {L"\\\\.\\PortivaDev", L"\\\\.\\PortivaDev"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        wchar_t out[64];
        ASSERT_TRUE(ToLiteralPath(c.path, out, 64)) << Show(c.path);
        EXPECT_EQ(std::wstring(out), c.literal) << Show(c.path);
    }
    wchar_t exact[15];
    EXPECT_TRUE(ToLiteralPath(L"C:\\x\\w.exe", exact, 15));
    EXPECT_FALSE(ToLiteralPath(L"C:\\x\\w.exe", exact, 14)) << "a cut path could name another file";
}

// A code page stand-in: ASCII and the Latin-1 letters as one byte each, and
// U+3042 as the two bytes of a double-byte code page.
size_t TestEncoder(uint32_t codePoint, char* bytes, size_t size, void* context) {
    ++*static_cast<int*>(context);
    if (codePoint == 0x3042 && size >= 2) {
        bytes[0] = '\x82';
        bytes[1] = '\xA0';
        return 2;
    }
    if (codePoint < 0x80 || (codePoint >= 0xC0 && codePoint <= 0xFF)) {
        bytes[0] = static_cast<char>(codePoint);
        return 1;
    }
    return 0;
}

size_t HoldsNothing(uint32_t, char*, size_t, void*) { return 0; }

std::string Display(const wchar_t* path, size_t size = 256, AnsiEncoder encode = TestEncoder) {
    int calls = 0;
    std::string out(size, '#');
    const size_t length = FormatDisplayPath(path, encode, &calls, out.data(), size);
    EXPECT_EQ(length, strlen(out.c_str())) << "the whole form fits";
    return out.c_str();
}

TEST(FormatDisplayPath, HeldCharactersAsTheirBytesOthersAsCodePoints) {
    const struct {
        const wchar_t* path;
        const char* shown;
    } cases[] = {
        {L"C:\\Tools\\idle.exe", "C:\\Tools\\idle.exe"},
        {L"C:\\B\xE4r\\\xC4rger.exe", "C:\\B\xE4r\\\xC4rger.exe"},
        {L"C:\\\x0414\x043E\x043C\\w.exe", "C:\\<U+0414><U+043E><U+043C>\\w.exe"},
        {L"C:\\\x3042\x30A2.exe", "C:\\\x82\xA0<U+30A2>.exe"},
        {L"\x0100", "<U+0100>"},                       // a look-alike in the code page is not the character
        {L"\xD83D\xDE00.exe", "<U+1F600>.exe"},        // a surrogate pair is one code point
        {L"a\xD83D", "a<U+D83D>"},                     // lone surrogates stand for themselves
        {L"\xDE00" L"b", "<U+DE00>b"},
        {L"\xD83D" L"x\xDE00", "<U+D83D>x<U+DE00>"},
        {L"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(Display(c.path), c.shown);
    }
    EXPECT_EQ(Display(L"A\x7F", 256, HoldsNothing), "<U+0041><U+007F>");
}

TEST(FormatDisplayPath, CutsOnlyBetweenWholePieces) {
    const wchar_t* path = L"C:\\\x0414x";  // "C:\<U+0414>x", 12 characters
    int calls = 0;
    for (size_t size : {0u, 1u, 4u, 11u, 12u, 13u}) {
        SCOPED_TRACE(size);
        char out[16];
        memset(out, '#', sizeof out);
        EXPECT_EQ(FormatDisplayPath(path, TestEncoder, &calls, out, size), 12u);
        const std::string expected = size >= 13 ? "C:\\<U+0414>x" : size >= 12 ? "C:\\<U+0414>" : size >= 4 ? "C:\\" : "";
        if (size > 0) {
            EXPECT_EQ(std::string(out), expected);
        }
        EXPECT_EQ(out[size], '#') << "nothing written beyond the buffer";
    }
}

}  // namespace
