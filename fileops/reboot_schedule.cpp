#include "fileops/reboot_schedule.h"

// Placeholder until reboot-time scheduling lands: nothing is scheduled.
int32_t AddFileToAutomaticRenameList(const char* /*existingPath*/, const char* /*newPath*/) { return 0; }
