// Platform probes: which family the system belongs to and whether the user
// is an administrator. The run's time limits come from here too: a test
// build, which answers the probes its own way (base/platform_seam.h), may
// shorten them.
#pragma once
#include <cstdint>

enum class PlatformKind : int32_t { Other = 0, Win9x = 1, Nt = 2 };

// The number GetPlatformKind answers for a family.
constexpr int PlatformCode(PlatformKind kind) { return static_cast<int>(kind); }

// The one answer to "which family": asked of the system once per process (the
// family cannot change within a run); PlatformKind::Other when it cannot tell.
int GetPlatformKind();
// 1 on the NT family, from GetPlatformKind: every choice of means asks this.
int IsWindowsNT();
// NT family only: the 9x family's token functions are stubs that fail.
int IsAdministrator();

// A time limit of the run, in milliseconds: the limit given, in the program.
// A test build may shorten it, so that a test need not wait it out.
unsigned long RunTimeLimitMs(unsigned long limitMs);
