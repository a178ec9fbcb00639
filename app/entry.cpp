#include "app/entry.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/disinfect.h"
#include "app/report.h"
#include "app/verdict.h"
#include "app/version.h"
#include "base/platform.h"
#include "base/run_end.h"
#include "base/system_folders.h"
#include "trace/trace.h"

namespace {

// /VER's line, and the first of the run's trace.
constexpr char VersionLine[] = "Ravlokfix v" RAVLOKFIX_VERSION "\n";
// The first line of the banner and of the usage text.
constexpr char TitleLine[] = "W32/Ravlok.B Removal Tool ver " RAVLOKFIX_VERSION "\n";

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

struct CommandLine {
    RunSwitches switches;
    int version;
    int help;
    const char* refused;  // the first argument that is no switch
};

// Every argument is read before any is acted on, so that a refused one
// anywhere stops the run; "/VER" alone ends the scan where it stands.
CommandLine ReadCommandLine(int argc, char** argv) {
    CommandLine command{};
    for (int i = 1; i < argc && !command.version; ++i) {
        if (_stricmp(argv[i], "/SILENT") == 0) {
            command.switches.silent = 1;
        } else if (_stricmp(argv[i], "/QUIET") == 0) {
            command.switches.quiet = 1;
        } else if (_stricmp(argv[i], "/REPORT") == 0) {
            command.switches.report = 1;
        } else if (strcmp(argv[i], "/?") == 0) {
            command.help = 1;
        } else if (_stricmp(argv[i], "/VER") == 0) {
            command.version = 1;
        } else if (command.refused == nullptr) {
            command.refused = argv[i];
        }
    }
    return command;
}

// An unobtainable Windows directory leaves "\Ravlokfix.log" on the current drive.
void OpenRunLog() {
    char windowsDir[MAX_PATH] = "";
    WindowsFolder(windowsDir, sizeof windowsDir);
    char logPath[MAX_PATH + sizeof "\\Ravlokfix.log"];
    snprintf(logPath, sizeof logPath, "%s\\Ravlokfix.log", windowsDir);
    OpenTraceFile(logPath, "a+");
    TRACE(TraceDetail, "%s", VersionLine);
}

// An argument that is no switch: a typo must not start a removal. Traced,
// so that a log collected from many machines says why this one did nothing.
int RefuseCommandLine(const char* argument, const RunSwitches& switches) {
    ShownArgument shown;
    ShowArgument(argument, shown);
    TRACE(TraceFailure, "Command line refused: unknown argument \"%s\". Nothing was done.\n", shown);
    if (!switches.quiet) printf("Unknown argument \"%s\": nothing was done.\n\n%s", shown, UsageText);
    return ExitWith(RefusedExitCode);
}

// Every part of the program prints to standard output; the null device
// takes it all at once. A closed stream must not be printed to: the run
// then does nothing.
bool SilenceConsole() {
    if (freopen("NUL", "w", stdout) != nullptr) return true;
    TRACE(TraceFailure, "Console output cannot be silenced (errno %d): nothing was done.\n", errno);
    return false;
}

void ShowBanner(const RunSwitches& switches) {
    printf("%s%s\n", TitleLine,
           switches.report ? "Report only: this run looks for W32/Ravlok.B on this computer and changes nothing.\n"
                           : "This tool ends running copies of W32/Ravlok.B, deletes its files and repairs its "
                             "start-up entries on this computer.\n");
    fflush(stdout);
}

// NT family, a user outside the Administrators group: nothing is done. A
// removal run says so, untraced and with no exit line; a console event that
// came first still ends it as the event asks.
int RefuseUser(const RunSwitches& switches) {
    if (switches.report) return ExitWith(RefuseReport(switches.silent));
    if (!switches.silent) {
        fputs("Please log on to this workstation with administrator rights and\nrun the tool again.", stdout);
    }
    FinishRun();
    return 0;
}

}  // namespace

int RavlokfixMain(int argc, char** argv) {
    const CommandLine command = ReadCommandLine(argc, argv);
    const RunSwitches& switches = command.switches;
    // Asked for, so printed with /QUIET too, and before the log.
    if (command.version) {
        fputs(VersionLine, stdout);
        return 0;
    }
    if (command.help) {
        printf("%s\n%s", TitleLine, UsageText);
        return 0;
    }

    OpenRunLog();
    if (command.refused != nullptr) return RefuseCommandLine(command.refused, switches);
    // From here a console event ends the run with its own code, on every
    // system alike, never with a verdict.
    EndRunOnConsoleEvents();
    if (switches.quiet && !SilenceConsole()) {
        return ExitWith(switches.silent ? 0 : static_cast<int32_t>(ReportCode::Unchecked));
    }
    ShowBanner(switches);

    if (IsWindowsNT() && !IsAdministrator()) return RefuseUser(switches);
    return ExitWith(switches.report ? RunReport(switches.silent) : RunRemoval(switches));
}
