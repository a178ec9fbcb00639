#include "app/startup_entries.h"

// Placeholders until start-up entry repair lands.
void DeleteStartupValue(HKEY /*root*/, const char* /*keyPath*/, const char* /*valueName*/) {}
void RepairSystemIniShell() {}
