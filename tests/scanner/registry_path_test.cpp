#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scanner/registry_path.h"
#include "tests/support/registry_fixture.h"

namespace {

const char PortivaKey[] = "Software\\Tessival\\Norvane\\Portiva";
#define PORTIVA "HKEY_LOCAL_MACHINE\\Software\\Tessival\\Norvane\\Portiva"
const char RootValue[] = "RavlokfixRootValue";

class RegistryPathValues : public ::testing::Test {
protected:
    void SetUp() override {
        using R = RegistryFixture;
        registry_.Set(HKEY_LOCAL_MACHINE, PortivaKey, "DeviceName", REG_SZ, R::Sz("PV95"));
        registry_.Set(HKEY_LOCAL_MACHINE, PortivaKey, "", REG_SZ, R::Sz("default"));
        registry_.Set(HKEY_LOCAL_MACHINE, PortivaKey, "Name", REG_SZ, R::Sz("plain"));
        registry_.Set(HKEY_LOCAL_MACHINE, PortivaKey, "Name\t", REG_SZ, R::Sz("tab"));
        registry_.Set(HKEY_LOCAL_MACHINE, PortivaKey, "Name ", REG_SZ, R::Sz("space"));
        registry_.Set(HKEY_LOCAL_MACHINE, PortivaKey, "Twenty", REG_BINARY, std::string("0123456789abcdefghij"));
        registry_.Remove(HKEY_LOCAL_MACHINE, PortivaKey, "Missing");
        registry_.Set(HKEY_CURRENT_USER, "", RootValue, REG_SZ, R::Sz("under root"));
    }
    RegistryFixture registry_;
};

struct ReadCase {
    const char* path;
    int size;
    int code;
    std::string data;  // the value's bytes when code is 0
};

TEST_F(RegistryPathValues, ReadsTheNamedValueOrSaysWhyNot) {
    const std::string pv95("PV95", 5);
    const ReadCase cases[] = {
        {PORTIVA "\\\\DeviceName", 64, 0, pv95},
        {"hkey_local_machine\\Software\\Tessival\\Norvane\\Portiva\\\\DeviceName", 64, 0, pv95},
        {"HKLM\\Software\\Tessival\\Norvane\\Portiva\\\\DeviceName", 64, 4, ""},
        {"HKEY_LOCAL_MACHINES\\Software\\Tessival\\Norvane\\Portiva\\\\DeviceName", 64, 4, ""},
        {"HKEY_USER\\\\DeviceName", 64, 4, ""},
        {PORTIVA "\\DeviceName", 64, 4, ""},  // no pair of backslashes
        {"HKEY_LOCAL_MACHINE", 64, 4, ""},
        {"", 64, 4, ""},
        {"HKEY_CURRENT_USER\\\\RavlokfixRootValue", 64, 0, std::string("under root", 11)},
        {PORTIVA "\\\\", 64, 0, std::string("default", 8)},
        {PORTIVA "\\\\   ", 64, 0, std::string("default", 8)},
        {PORTIVA "\\\\DeviceName   ", 64, 0, pv95},
        {PORTIVA "\\\\Name\t", 64, 0, std::string("tab", 4)},
        {PORTIVA "\\\\Name|ignored", 64, 0, std::string("plain", 6)},
        {PORTIVA "\\\\Name |ignored  ", 64, 0, std::string("space", 6)},
        {PORTIVA "\\\\Twenty", 16, 3, ""},
        {PORTIVA "\\\\Twenty", 20, 0, "0123456789abcdefghij"},
        {PORTIVA "\\\\Twenty", -1, 3, ""},
        {PORTIVA "\\\\Missing", 64, 2, ""},
        // The first pair ends KEY; the rest is the value name.
        {"HKEY_LOCAL_MACHINE\\Software\\Tessival\\Norvane\\\\Portiva\\\\DeviceName", 64, 2, ""},
        {"HKEY_LOCAL_MACHINE\\Software\\Tessival\\NoSuchKey\\\\DeviceName", 64, 1, ""},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string before(c.path);
        unsigned char buffer[64];
        std::memset(buffer, 0xCC, sizeof buffer);
        EXPECT_EQ(ReadRegistryPathValue(buffer, c.size, c.path), c.code);
        EXPECT_EQ(before, c.path);
        if (c.code == 0) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), c.data.size()), c.data);
        }
        // Nothing is written beyond the size given.
        for (size_t i = c.size > 0 ? c.size : 0; i < sizeof buffer; ++i) {
            if (c.code == 0 && i == c.data.size()) continue;  // room for the platform's own terminator
            ASSERT_EQ(buffer[i], 0xCC) << i;
        }
    }
}

TEST_F(RegistryPathValues, OpenHandsOverKeyAndOwnedValueName) {
    RegistryPathKey opened;
    ASSERT_EQ(OpenRegistryPath("HKEY_CURRENT_USER\\\\RavlokfixRootValue  ", &opened), 0);
    EXPECT_EQ(opened.key, HKEY_CURRENT_USER);
    EXPECT_TRUE(opened.keyIsRoot);
    EXPECT_STREQ(opened.ValueName(), RootValue);
    // The root belongs to the process: nothing of it is owned.
    EXPECT_FALSE(opened.owner);

    ASSERT_EQ(OpenRegistryPath(PORTIVA "\\\\Name |x", &opened), 0);
    EXPECT_FALSE(opened.keyIsRoot);
    EXPECT_STREQ(opened.ValueName(), "Name ");
    // Opened for reading only.
    EXPECT_EQ(RegSetValueExA(opened.key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>("w"), 2),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(opened.owner.get(), opened.key);
    EXPECT_EQ(RegCloseKey(opened.owner.release()), ERROR_SUCCESS);

    for (const char* bad : {"HKLM\\\\x", "HKEY_LOCAL_MACHINE\\Software\\Tessival\\NoSuchKey\\\\x"}) {
        opened.key = HKEY_CLASSES_ROOT;
        opened.keyIsRoot = true;
        opened.valueName.reset(std::malloc(1));
        EXPECT_NE(OpenRegistryPath(bad, &opened), 0);
        EXPECT_EQ(opened.key, nullptr);
        EXPECT_EQ(opened.ValueName(), nullptr);
    }
}

// Handles this process holds, from the system's handle list (Wine's
// GetProcessHandleCount always answers 0).
int OpenHandleCount() {
    struct Entry {
        USHORT process;
        USHORT creator;
        UCHAR type;
        UCHAR attributes;
        USHORT handle;
        PVOID object;
        ULONG access;
    };
    struct List {
        ULONG count;
        Entry entries[1];
    };
    std::vector<char> buffer(1 << 22);
    ULONG length = 0;
    const auto SystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
    if (NtQuerySystemInformation(SystemHandleInformation, buffer.data(), buffer.size(), &length) != 0) return -1;
    const auto* list = reinterpret_cast<const List*>(buffer.data());
    int count = 0;
    for (ULONG i = 0; i < list->count; ++i) {
        if (list->entries[i].process == static_cast<USHORT>(GetCurrentProcessId())) ++count;
    }
    return count;
}

// Repeated calls of every outcome leave no key handle behind.
TEST_F(RegistryPathValues, NoHandleLeftOpen) {
    const char* const paths[] = {PORTIVA "\\\\DeviceName", PORTIVA "\\\\Missing", PORTIVA "\\\\Twenty",
                                 "HKEY_LOCAL_MACHINE\\Software\\Tessival\\NoSuchKey\\\\x",
                                 "HKEY_CURRENT_USER\\\\RavlokfixRootValue"};
    char buffer[16];
    ReadRegistryPathValue(buffer, sizeof buffer, paths[0]);
    const int before = OpenHandleCount();
    ASSERT_GT(before, 0);
    for (int round = 0; round < 20; ++round) {
        for (const char* path : paths) ReadRegistryPathValue(buffer, sizeof buffer, path);
    }
    EXPECT_EQ(OpenHandleCount(), before);
}

}  // namespace
