#include "fileops/restart_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace {

// Only an entry directly in the folder: the subfolders of system32 that
// Windows does not redirect for 32-bit programs must keep their own names.
TEST(NameInFolder, OnlyEntriesDirectlyInTheFolder) {
    const char* const system = "C:\\WINDOWS\\system32";
    const struct {
        const char* path;
        const char* folder;
        size_t name;
    } cases[] = {
        {"C:\\Windows\\System32\\winupdate.exe", system, 20},
        {"C:\\Windows\\System32\\winupdate.exe", "C:\\Windows\\System32\\", 20},
        {"C:\\x.exe", "C:\\", 3},
        {"C:\\Windows\\System32\\spool\\drivers\\x.exe", system, 0},
        {"C:\\Windows\\System32\\drivers\\etc\\hosts", system, 0},
        {"C:\\Windows\\System32\\catroot2\\x.exe", system, 0},
        {"C:\\Windows\\System32\\DriverStore\\x.exe", system, 0},
        {"C:\\Windows\\System32/spool/x.exe", system, 0},
        {"C:\\Windows\\System32\\..", system, 0},
        {"C:\\Windows\\System32\\.", system, 0},
        {"C:\\Windows\\System32\\", system, 0},
        {"C:\\Windows\\System32", system, 0},
        {"C:\\Windows\\System32x\\a.exe", system, 0},
        {"C:\\Windows\\System3\\a.exe", system, 0},
        {"D:\\Windows\\System32\\a.exe", system, 0},
        {"C:\\Windows\\System32\\a.exe", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.folder);
        EXPECT_EQ(NameInFolder(c.path, c.folder), c.name);
        // The same in UTF-16, the form the NT family names files in.
        EXPECT_EQ(NameInFolder(Widen(c.path).c_str(), Widen(c.folder).c_str()), c.name);
    }
    // Characters outside the code page change nothing: a name is a name, a
    // folder a folder.
    EXPECT_EQ(NameInFolder(L"C:\\Windows\\System32\\\u30ef\u30fc\u30e0.exe", L"C:\\WINDOWS\\system32"), 20u);
    EXPECT_EQ(NameInFolder(L"C:\\Windows\\System32\\\u0414\\x.exe", L"C:\\WINDOWS\\system32"), 0u);
}

}  // namespace
