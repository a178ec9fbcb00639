// Platform probes: which family the system belongs to and whether the user
// is an administrator.
#pragma once

enum PlatformKind { PlatformOther = 0, PlatformWin9x = 1, PlatformNt = 2 };

// The one answer to "which family": asked of the system once per process (the
// family cannot change within a run); PlatformOther when it cannot tell.
int GetPlatformKind();
// 1 on the NT family, from GetPlatformKind: every choice of means asks this.
int IsWindowsNT();
// NT family only: the 9x family's token functions are stubs that fail.
int IsAdministrator();
