#include "trace/trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int TraceBufferChars = 1024;
constexpr int LevelLimit = 255;
constexpr int CategoryFilter = -1;

FILE* logFile = nullptr;
char logPath[MAX_PATH] = "";
char TraceBuffer[TraceBufferChars + 1];
CRITICAL_SECTION traceLock;
bool traceLockCreated = false;
int active = 0;

void CreateTraceLock() {
    if (!traceLockCreated) {
        InitializeCriticalSection(&traceLock);
        traceLockCreated = true;
    }
}

void ShutdownTrace() {
    active = 0;
    if (logFile != nullptr) {
        fflush(logFile);
        fclose(logFile);
        logFile = nullptr;
    }
    if (traceLockCreated) {
        DeleteCriticalSection(&traceLock);
        traceLockCreated = false;
    }
}

// Set up before the entry point runs, torn down at process exit.
struct TraceStartup {
    TraceStartup() noexcept {
        CreateTraceLock();
        active = 1;
        atexit(ShutdownTrace);
    }
} traceStartup;

// A bare file name has neither a drive nor a directory part.
bool IsBareName(const char* path) { return strpbrk(path, "\\/:") == nullptr; }

}  // namespace

// printf-style by design: every caller passes a format and its arguments.
void Trace(const char* /*component*/, int mask, int level, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    if (!active) return;
    if ((mask & CategoryFilter) == 0) return;
    if (level > LevelLimit) return;

    CreateTraceLock();
    EnterCriticalSection(&traceLock);
    va_list args;
    va_start(args, format);
    // The buffer holds 1024 characters and the terminator: longer messages are cut.
    vsnprintf(TraceBuffer, sizeof TraceBuffer, format, args);
    va_end(args);
    if (logFile != nullptr) {
        fputs(TraceBuffer, logFile);
        fflush(logFile);
    } else {
        OutputDebugStringA(TraceBuffer);
    }
    LeaveCriticalSection(&traceLock);
}

void OpenTraceFile(const char* path, const char* mode) {
    const bool samePath = strcmp(path, logPath) == 0;
    if (logFile != nullptr) {
        if (samePath) return;
        fclose(logFile);
        logFile = nullptr;
        logPath[0] = '\0';
    }

    char resolved[MAX_PATH];
    const char* target = path;
    if (IsBareName(path)) {
        const DWORD length = GetModuleFileNameA(nullptr, resolved, sizeof resolved);
        if (length == 0 || length >= sizeof resolved) return;
        char* slash = strrchr(resolved, '\\');
        const size_t dirLength = slash != nullptr ? static_cast<size_t>(slash - resolved + 1) : 0;
        const int written = snprintf(resolved + dirLength, sizeof resolved - dirLength, "%s", path);
        if (written < 0 || static_cast<size_t>(written) >= sizeof resolved - dirLength) return;
        target = resolved;
    }
    if (strlen(path) >= sizeof logPath) return;

    logFile = fopen(target, mode);
    if (logFile != nullptr) snprintf(logPath, sizeof logPath, "%s", path);
}
