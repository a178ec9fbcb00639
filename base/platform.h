// Platform probes: which family the system belongs to and whether the user
// is an administrator.
#pragma once

enum PlatformKind { PlatformOther = 0, PlatformWin9x = 1, PlatformNt = 2 };

int IsWindowsNT();
int GetPlatformKind();
int IsAdministrator();
