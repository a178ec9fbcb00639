// Where W32/Ravlok.B leaves its traces on a machine, described once: the
// removal acts on each place and the report lists what it finds there, so
// both always look in the same places. Each kind of place has one "find"
// that tells what is there, or why it could not be told.
#pragma once
#include <windows.h>
#include <cstdint>

// ---- Dropped files: fixed names in the system folder. ----

enum class LocationKind : int32_t { PathAsIs = 0, SystemDirectory = 1 };

struct DroppedFile {
    LocationKind locationKind;
    const char* name;  // null ends the table
};

extern const DroppedFile DroppedFileTable[];

// One row of the table in one folder: its path, or why there is none.
struct DroppedFilePlace {
    const char* name;
    char path[264];
    wchar_t widePath[264];  // the same path, for the calls that take UTF-16
    uint32_t error;  // nonzero: the folder is unknown or the path does not fit, and path is empty
};

using DroppedFileVisit = void (*)(const DroppedFilePlace& place, void* context);

// Every row, in table order, in every folder the worm drops its files into:
// the system folder and, for the 64-bit program, the 32-bit system folder
// (the worm is a 32-bit program). Rows that need no folder come once.
void ForEachDroppedFile(DroppedFileVisit visit, void* context);

// ---- Start-up values in the registry. ----

struct StartupValue {
    HKEY root;
    const char* rootName;
    const char* keyPath;  // null ends the table
    const char* valueName;
};

extern const StartupValue StartupValueTable[];

// The registry views a start-up key is visited in: the native one and, for
// the 64-bit program, the 32-bit view where that has a key of its own (keys
// both views share are visited once). 0 on the 32-bit program.
using RegistryViewVisit = void (*)(REGSAM view, void* context);
void ForEachRegistryView(HKEY root, const char* keyPath, RegistryViewVisit visit, void* context);

enum class ValueState { KeyAbsent, ValueAbsent, Present, KeyUnreadable, ValueUnreadable };

struct StartupValueFinding {
    ValueState state;
    LONG status;  // the registry's answer behind an unreadable state
    DWORD type;
    DWORD size;
    char data[MAX_PATH + 1];  // the text of a string value, terminated
    bool text;
};

StartupValueFinding FindStartupValue(const StartupValue& value, REGSAM view);

// ---- The shell line of system.ini. ----

struct ShellLine {
    const char* file;
    const char* section;
    const char* key;
    const char* usual;  // what Windows has there, and what the repair writes
};

extern const ShellLine WormShellLine;

struct ShellLineFinding {
    char value[MAX_PATH];  // empty: no such line
    bool usual;
};

// The bare file name lets the platform find the file, or the registry
// section that the NT family maps it to.
ShellLineFinding FindShellLine();
