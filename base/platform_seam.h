// Where a build chooses who answers the platform probes. base/platform.cpp
// asks the system; the answers the rest of the program reads
// (GetPlatformKind, IsAdministrator and RunTimeLimitMs of base/platform.h)
// come from the one answering module that a program links: the product's
// base/platform_answers.cpp passes the system's on, and a test build links an
// override of its own instead, which may answer as another platform or user
// would, or shorten the limits.
#pragma once

// The system's own answers, as base/platform.h describes the probes.
int SystemPlatformKind();
int SystemIsAdministrator();
