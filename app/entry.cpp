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
#include "base/run_end.h"
#include "base/system_folders.h"
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
    // A run cut short by a console event has no verdict: it ends as the event asks.
    FinishRun();
    TRACE(TraceDetail, "Exiting, return value %d\n", code);
    return code;
}

// The switches and exit codes as the user reads them. README.md and the
// release's README.txt are checked against this text.
constexpr char UsageText[] =
    "Usage: Ravlokfix.exe [/SILENT] [/QUIET] [/REPORT] [/VER] [/?]\n"
    "\n"
    "Switches, compared whole and in any letter case:\n"
    "  /VER     prints the version line and ends with exit code 0\n"
    "  /SILENT  no outcome message; the exit code is then 0\n"
    "  /QUIET   no console output at all; the exit code is the true one\n"
    "  /REPORT  looks for the worm and reports it; changes nothing\n"
    "  /?       prints this text and ends with exit code 0\n"
    "Any other argument is refused: nothing is changed, the exit code is 87\n"
    "(with /SILENT too) and this text is printed (not with /QUIET).\n"
    "\n"
    "Exit codes:\n"
    "  0   no infection found; or /SILENT, /VER or /? was given; or the user\n"
    "      is not an administrator (Windows NT family)\n"
    "  1   an infection was found and removed\n"
    "  2   an infection was found and removed; a restart completes the removal\n"
    "  3   an infection was found, and an error occurred while removing it\n"
    "  4   /REPORT: an infection was found; nothing was changed\n"
    "  5   the check could not be completed: no infection was found, but some\n"
    "      program or file could not be checked (the trace log says which);\n"
    "      with /REPORT nothing was changed\n"
    "  87  an argument was refused; nothing was changed\n"
    "  0xC000013A  the run was cut short (Ctrl+C, Ctrl+Break, a closed console\n"
    "      window, log-off, shut-down): no verdict; run the tool again\n";

// Windows's own code for a bad parameter: deployment consoles show it as
// "The parameter is incorrect", and it fits the 9x family's 8-bit ERRORLEVEL.
constexpr int RefusedExitCode = ERROR_INVALID_PARAMETER;
static_assert(RefusedExitCode == 87, "the usage text names the code");

// At most this much of an argument is shown.
constexpr size_t ShownChars = 40;
using ShownArgument = char[ShownChars + sizeof "..."];

// The argument as the console and the trace show it: control characters
// (a forged line end in the log) become '?', and a long one is cut.
void ShowArgument(const char* argument, ShownArgument& out) {
    size_t at = 0;
    for (; at < ShownChars && argument[at] != '\0'; ++at) {
        const auto c = static_cast<unsigned char>(argument[at]);
        out[at] = c < 0x20 || c == 0x7F ? '?' : argument[at];
    }
    snprintf(out + at, sizeof out - at, "%s", argument[at] != '\0' ? "..." : "");
}

// An argument that is no switch: a typo must not start a removal.
int RefuseCommandLine(const char* argument) {
    ShownArgument shown;
    ShowArgument(argument, shown);
    TRACE(TraceFailure, "Command line refused: unknown argument \"%s\". Nothing was done.\n", shown);
    if (!QuietMode) printf("Unknown argument \"%s\": nothing was done.\n\n%s", shown, UsageText);
    return ExitWith(RefusedExitCode);
}

}  // namespace

int RavlokfixMain(int argc, char** argv) {
    // Every argument is read before any is acted on, so that a refused one
    // anywhere stops the run; "/VER" alone ends the scan where it stands.
    int help = 0;
    const char* refused = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (_stricmp(argv[i], "/SILENT") == 0) {
            SilentMode = 1;
        } else if (_stricmp(argv[i], "/QUIET") == 0) {
            QuietMode = 1;
        } else if (_stricmp(argv[i], "/REPORT") == 0) {
            ReportMode = 1;
        } else if (strcmp(argv[i], "/?") == 0) {
            help = 1;
        } else if (_stricmp(argv[i], "/VER") == 0) {
            printf("Ravlokfix v%d.%02d.%d\n", VersionMajor, VersionMinor, VersionBuild);
            return 0;
        } else if (refused == nullptr) {
            refused = argv[i];
        }
    }
    // Asked for, so printed with /QUIET too, and before the log as "/VER" is.
    if (help) {
        printf("W32/Ravlok.B Removal Tool ver %d.%02d.%d\n\n%s", VersionMajor, VersionMinor, VersionBuild,
               UsageText);
        return 0;
    }

    // An unobtainable Windows directory leaves "\Ravlokfix.log" on the current drive.
    char windowsDir[MAX_PATH] = "";
    WindowsFolder(windowsDir, sizeof windowsDir);
    char logPath[MAX_PATH + sizeof "\\Ravlokfix.log"];
    snprintf(logPath, sizeof logPath, "%s\\Ravlokfix.log", windowsDir);
    OpenTraceFile(logPath, "a+");
    TRACE(TraceDetail, "Ravlokfix v%d.%02d.%d\n", VersionMajor, VersionMinor, VersionBuild);
    // Traced, so that a log collected from many machines says why this one did nothing.
    if (refused != nullptr) return RefuseCommandLine(refused);
    // From here a console event ends the run with its own code, on every
    // system alike, never with a verdict.
    EndRunOnConsoleEvents();

    // Every part of the program prints to standard output; the null device
    // takes it all at once. A closed stream must not be printed to: the run
    // then does nothing.
    if (QuietMode && freopen("NUL", "w", stdout) == nullptr) {
        TRACE(TraceFailure, "Console output cannot be silenced (errno %d): nothing was done.\n", errno);
        return ExitWith(SilentMode ? 0 : static_cast<int32_t>(ReportCode::Incomplete));
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

    const RunOutcome outcome = CurrentRunOutcome();
    int code = 0;
    if (!SilentMode) {
        if (outcome.infection == 0 && outcome.unchecked != 0) {
            // Nothing found where the tool could look: no verdict on the rest.
            ShowOutcome("The check could not be completed: see the trace log.\n",
                        "The check could not be completed.\n");
            code = static_cast<int>(ReportCode::Incomplete);
        } else if (outcome.infection == 0) {
            fputs("No infection found\n", stdout);
        } else {
            if (outcome.errors != 0) {
                ShowOutcome("Infection was found.  An error occurred in the disinfection process.\n",
                            "Infections were found.  An error occurred in the disinfection process.\n");
                code = 3;
            } else {
                ShowOutcome("Infection was found and removed\n", "Infections were found and removed.\n");
                code = 1;
            }
            if (outcome.reboot != 0) {
                if (code != 3) code = 2;
                ShowOutcome("Restarting the computer is needed to complete the disinfection process.\n"
                            "Please restart the computer now.\n",
                            "Restarting the computer is needed to complete the disinfection process.\n");
            }
        }
        // A file that could not be read may be another copy: the verdict
        // above does not cover it.
        if (outcome.infection != 0 && outcome.unchecked != 0) {
            ShowOutcome("Some checks could not be made: see the trace log.\n", "Some checks could not be made.\n");
        }
    }
    return ExitWith(code);
}
