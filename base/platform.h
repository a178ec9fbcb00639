// Platform probes: which family the system belongs to and whether the user
// is an administrator.
#pragma once

enum PlatformKind { PlatformOther = 0, PlatformWin9x = 1, PlatformNt = 2 };

int IsWindowsNT();
int GetPlatformKind();
// NT family only: the 9x family's token functions are stubs that fail.
int IsAdministrator();
