// Levelled diagnostic messages to the trace log, or to the debugger output
// while no log file is open.
#pragma once

// Levels as the callers use them: numbers, as Trace takes its level.
constexpr int TraceFailure = 1;
constexpr int TraceDetail = 4;

// Every caller passes this component name and the all-categories mask.
#define TRACE_COMPONENT ""
#define TRACE_ALL_CATEGORIES (-1)

void Trace(const char* component, int mask, int level, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Opens (or keeps open) the log file; a bare file name goes beside the program.
void OpenTraceFile(const char* path, const char* mode);

// The usual call: program component, all categories.
#define TRACE(level, ...) Trace(TRACE_COMPONENT, TRACE_ALL_CATEGORIES, (level), __VA_ARGS__)
