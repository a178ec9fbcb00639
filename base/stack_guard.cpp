// The stack protector's canary and its failure path. The compiler's own
// library seeds the canary through CryptoAPI, which the first Windows 95
// lacks (a program importing it does not load there), with a flag that
// systems before 2000 refuse (the canary then stays a fixed value).
// Defining the symbols here keeps that library out of the link.
#include <windows.h>

#include <cstdint>

#include "base/run_end.h"

namespace {

constexpr DWORD StackBufferOverrun = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN, as the system's own checks end

[[noreturn]] void EndAtOnce() {
    // Nothing of the damaged frames runs again: the process ends from here.
    // Only the end of the run's own action runs first (the scanner switched
    // on again, once), called directly below the damaged frames on the stack
    // and reading only process-wide data, which an overrun of a stack buffer
    // does not reach. No exception is raised: its dispatch would walk
    // handlers that the damaged stack may name.
    EndRunEarly();
    TerminateProcess(GetCurrentProcess(), StackBufferOverrun);
    ExitProcess(StackBufferOverrun);
}

}  // namespace

extern "C" {

// Read by every protected function, so it must be set before main runs.
// The compiler's names, reserved to the implementation.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
uintptr_t __stack_chk_guard = 0;

[[noreturn]] void __stack_chk_fail() { EndAtOnce(); }

// The checked string functions that fortified code calls end through this
// one (declared without return by <string.h>).
void __chk_fail() { EndAtOnce(); }
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

}  // extern "C"

namespace {

// Runs before any protected function of the program, and is not protected
// itself: it changes the value its own check would compare. The sources are
// those of every Windows version: times, counters, identifiers and the
// stack's address (random under ASLR).
__attribute__((constructor, no_stack_protector)) void SeedStackGuard() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);  // zero where there is no counter
    const int onTheStack = 0;

    uint64_t mix = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    mix ^= static_cast<uint64_t>(counter.QuadPart) * 0x9E3779B97F4A7C15ULL;
    mix ^= (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^ GetCurrentThreadId();
    mix ^= static_cast<uint64_t>(GetTickCount()) << 16;
    mix ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&onTheStack));
    mix ^= mix >> 29;
    mix *= 0xBF58476D1CE4E5B9ULL;
    mix ^= mix >> 32;

    const auto guard = static_cast<uintptr_t>(mix);
    __stack_chk_guard = guard != 0 ? guard : static_cast<uintptr_t>(0x2F8A6C31);
}

}  // namespace
