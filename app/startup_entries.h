// Repair of the worm's start-up entries: registry values and the system.ini shell.
#pragma once
#include <windows.h>

void DeleteStartupValue(HKEY root, const char* keyPath, const char* valueName);
void RepairSystemIniShell();
