// The path syntax alone: no registry, so these run natively too.
#include <gtest/gtest.h>

#include <string>

#include "scanner/registry_path_syntax.h"

namespace {

struct SplitCase {
    const char* path;
    int ok;
    const char* root;
    int underRoot;
    const char* key;
    const char* value;
};

std::string Part(const char* path, size_t start, size_t length) { return std::string(path + start, length); }

TEST(RegistryPathSyntax, SplitsRootKeyAndValueName) {
    const SplitCase cases[] = {
        {"R\\K\\\\V", 1, "R", 0, "K", "V"},
        {"R\\A\\B\\C\\\\V\\W", 1, "R", 0, "A\\B\\C", "V\\W"},
        {"R\\\\V", 1, "R", 1, "", "V"},
        {"R\\\\\\V", 1, "R", 1, "", "\\V"},
        {"R\\K\\\\\\V", 1, "R", 0, "K", "\\V"},
        {"R\\K\\\\", 1, "R", 0, "K", ""},
        {"R\\\\", 1, "R", 1, "", ""},
        {"\\\\V", 1, "", 1, "", "V"},
        {"R\\K \\\\V \t  ", 1, "R", 0, "K ", "V \t"},
        {"R\\K\\\\V  |x  ", 1, "R", 0, "K", "V  "},
        {"R\\K\\\\|", 1, "R", 0, "K", ""},
        {"R\\K\\\\V|a|b", 1, "R", 0, "K", "V"},
        {"R\\K|x\\\\V", 1, "R", 0, "K|x", "V"},
        {"R", 0, "", 0, "", ""},
        {"R\\", 0, "", 0, "", ""},
        {"R\\K", 0, "", 0, "", ""},
        {"R\\K\\", 0, "", 0, "", ""},
        {"R\\K\\V\\", 0, "", 0, "", ""},
        {"", 0, "", 0, "", ""},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.path);
        RegistryPathParts parts{};
        ASSERT_EQ(SplitRegistryPath(c.path, &parts), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(Part(c.path, 0, parts.rootLength), c.root);
        EXPECT_EQ(parts.valueUnderRoot, c.underRoot);
        EXPECT_EQ(Part(c.path, parts.keyStart, parts.keyLength), c.key);
        EXPECT_EQ(Part(c.path, parts.valueStart, parts.valueLength), c.value);
    }
}

TEST(RegistryPathSyntax, RootNamesMatchWholeAndWithoutCase) {
    EXPECT_EQ(EqualsIgnoringCase("hKeY_UsErS", 10, "HKEY_USERS"), 1);
    EXPECT_EQ(EqualsIgnoringCase("HKEY_USERSX", 10, "HKEY_USERS"), 1);  // only the given length counts
    EXPECT_EQ(EqualsIgnoringCase("HKEY_USER", 9, "HKEY_USERS"), 0);
    EXPECT_EQ(EqualsIgnoringCase("HKEY_USERS_", 11, "HKEY_USERS"), 0);
    EXPECT_EQ(EqualsIgnoringCase("HKEY~USERS", 10, "HKEY_USERS"), 0);  // '~' is '^' + 32, not a letter
    EXPECT_EQ(EqualsIgnoringCase("", 0, ""), 1);
}

}  // namespace
