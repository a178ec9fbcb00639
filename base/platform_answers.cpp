// The product's answers: the system's, unchanged.
#include "base/platform.h"
#include "base/platform_seam.h"

int GetPlatformKind() { return SystemPlatformKind(); }
int IsAdministrator() { return SystemIsAdministrator(); }
unsigned long RunTimeLimitMs(unsigned long limitMs) { return limitMs; }
