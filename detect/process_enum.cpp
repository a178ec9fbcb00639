#include "detect/process_enum.h"

// Placeholder until the process walkers land.
int32_t EnumerateProcesses(int32_t /*isNt*/, ProcessCallback /*callback*/, void* /*context*/) { return 0; }
