#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

HMODULE Kernel32() { return GetModuleHandleA("KERNEL32.DLL"); }

// This program is linked like the product: its wide-character calls reach the
// ANSI forms, not KERNEL32's wide functions (stubs on the 9x family).
TEST(NarrowImports, WideCallsGoToTheAnsiForms) {
    const struct {
        const char* name;
        void (*called)();
    } cases[] = {
        {"CreateSemaphoreW", reinterpret_cast<void (*)()>(&CreateSemaphoreW)},
        {"GetModuleHandleW", reinterpret_cast<void (*)()>(&GetModuleHandleW)},
        {"LoadLibraryW", reinterpret_cast<void (*)()>(&LoadLibraryW)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(c.called, reinterpret_cast<void (*)()>(GetProcAddress(Kernel32(), c.name)));
    }
}

TEST(NarrowImports, AnswerAsTheWideFunctions) {
    EXPECT_EQ(GetModuleHandleW(nullptr), GetModuleHandleA(nullptr));
    EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), Kernel32());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetModuleHandleW(L"no-such-module.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    HMODULE loaded = LoadLibraryW(L"kernel32.dll");
    EXPECT_EQ(loaded, Kernel32());
    if (loaded != nullptr) FreeLibrary(loaded);

    // A named semaphore is the one the ANSI name finds.
    HANDLE created = CreateSemaphoreW(nullptr, 1, 1, L"RavlokfixNarrowImportsTest");
    ASSERT_NE(created, nullptr);
    HANDLE opened = OpenSemaphoreA(SYNCHRONIZE, FALSE, "RavlokfixNarrowImportsTest");
    EXPECT_NE(opened, nullptr);
    if (opened != nullptr) CloseHandle(opened);
    CloseHandle(created);
}

TEST(NarrowImports, RefuseANameLongerThanAPath) {
    const std::wstring tooLong(MAX_PATH + 10, L'a');
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadLibraryW(tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateSemaphoreW(nullptr, 0, 1, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
