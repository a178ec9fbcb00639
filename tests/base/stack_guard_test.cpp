#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

extern "C" uintptr_t __stack_chk_guard;  // NOLINT(bugprone-reserved-identifier)

namespace {

// Writes past the end of a protected local array, as an overflow would.
__attribute__((noinline)) void Overrun(size_t count) {
    char buffer[16];
    volatile char* at = buffer;
    for (size_t i = 0; i < count; ++i) at[i] = 'x';
}

// The canary is seeded before the first test runs: a zero canary is what an
// overflow with a string's terminator would write.
TEST(StackGuard, IsSeededAtStartUp) { EXPECT_NE(__stack_chk_guard, 0u); }

// A smashed canary ends the process at once with the system's own status,
// before the damaged frame returns.
TEST(StackGuardDeathTest, OverrunEndsTheProcess) {
    Overrun(sizeof(char[16]));  // within bounds: returns normally
    EXPECT_EXIT(Overrun(64), ::testing::ExitedWithCode(static_cast<int>(0xC0000409)), "");
}

}  // namespace
