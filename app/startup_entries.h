// Repair of the worm's start-up entries: registry values and the system.ini shell.
#pragma once
#include <windows.h>

void DeleteStartupValue(HKEY root, const char* keyPath, const char* valueName);

#ifdef _WIN64
// Whether the 32-bit registry view has a key of its own at that path: one
// that exists and is not the native key (the views share some keys, such as
// those under HKEY_CURRENT_USER\Software). The worm is a 32-bit program, so
// its values may lie there.
bool OwnKeyIn32BitView(HKEY root, const char* keyPath);
#endif
void RepairSystemIniShell();
