#include "app/entry.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/disinfect.h"
#include "app/report.h"
#include "base/outcome.h"
#include "base/platform.h"
#include "trace/trace.h"

namespace {

constexpr int VersionMajor = 1;
constexpr int VersionMinor = 0;
constexpr int VersionBuild = 1;

int SilentMode = 0;
// No console output at all, with the true exit code: for deployment tools.
int QuietMode = 0;
// Look and tell, change nothing.
int ReportMode = 0;

void ShowOutcome(const char* console, const char* trace) {
    fputs(console, stdout);
    TRACE(TraceDetail, "%s", trace);
}

int ExitWith(int code) {
    TRACE(TraceDetail, "Exiting, return value %d\n", code);
    return code;
}

}  // namespace

int RavlokfixMain(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (_stricmp(argv[i], "/SILENT") == 0) SilentMode = 1;
        if (_stricmp(argv[i], "/QUIET") == 0) QuietMode = 1;
        if (_stricmp(argv[i], "/REPORT") == 0) ReportMode = 1;
        if (_stricmp(argv[i], "/VER") == 0) {
            printf("Ravlokfix v%d.%02d.%d\n", VersionMajor, VersionMinor, VersionBuild);
            return 0;
        }
    }

    // An unobtainable Windows directory leaves "\Ravlokfix.log" on the current drive.
    char windowsDir[MAX_PATH] = "";
    const UINT length = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (length == 0 || length >= sizeof windowsDir) windowsDir[0] = '\0';
    char logPath[MAX_PATH + sizeof "\\Ravlokfix.log"];
    snprintf(logPath, sizeof logPath, "%s\\Ravlokfix.log", windowsDir);
    OpenTraceFile(logPath, "a+");
    TRACE(TraceDetail, "Ravlokfix v%d.%02d.%d\n", VersionMajor, VersionMinor, VersionBuild);

    // Every part of the program prints to standard output; the null device
    // takes it all at once. A closed stream must not be printed to: the run
    // then does nothing.
    if (QuietMode && freopen("NUL", "w", stdout) == nullptr) {
        TRACE(TraceFailure, "Console output cannot be silenced (errno %d): nothing was done.\n", errno);
        return ExitWith(SilentMode ? 0 : ReportIncomplete);
    }

    printf("W32/Ravlok.B Removal Tool ver %d.%02d.%d\n%s\n", VersionMajor, VersionMinor, VersionBuild,
           ReportMode ? "Report only: this run looks for W32/Ravlok.B on this computer and changes nothing.\n"
                      : "This tool ends running copies of W32/Ravlok.B, deletes its files and repairs its start-up "
                        "entries on this computer.\n");
    fflush(stdout);

    if (IsWindowsNT() && !IsAdministrator()) {
        if (ReportMode) return ExitWith(RefuseReport(SilentMode));
        if (!SilentMode) {
            fputs("Please log on to this workstation with administrator rights and\nrun the tool again.", stdout);
        }
        return 0;
    }

    if (ReportMode) return ExitWith(RunReport(SilentMode));

    int32_t disinfectionStatus = 0;
    Disinfect_Ravlok(&disinfectionStatus, 0, "Ravlok", 0, 1, 0, "*", 0, 0, 0, 0);

    int code = 0;
    if (!SilentMode) {
        if (GetInfectionState() == 0) {
            fputs("No infection found\n", stdout);
        } else {
            if (GetErrorCount() != 0) {
                ShowOutcome("Infection was found.  An error occurred in the disinfection process.\n",
                            "Infections were found.  An error occurred in the disinfection process.\n");
                code = 3;
            } else {
                ShowOutcome("Infection was found and removed\n", "Infections were found and removed.\n");
                code = 1;
            }
            if (GetRebootNeeded() != 0) {
                if (code != 3) code = 2;
                ShowOutcome("Restarting the computer is needed to complete the disinfection process.\n"
                            "Please restart the computer now.\n",
                            "Restarting the computer is needed to complete the disinfection process.\n");
            }
        }
        // A file that could not be read may be the worm: neither verdict
        // above covers it.
        if (GetUncheckedCount() != 0) {
            ShowOutcome("Some checks could not be made: see the trace log.\n", "Some checks could not be made.\n");
        }
    }
    return ExitWith(code);
}
