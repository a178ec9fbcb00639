"""The program's own texts as the end-to-end cases expect them, word for word:
its console lines (CR LF folded to LF, as Sandbox.run_program gives them)
and the lines its steps write to the trace log."""

# --- the console ---------------------------------------------------------------
BANNER_FIRST = "W32/Ravlok.B Removal Tool ver 1.00.1\n"
# The banner: its first line, a notice line and an empty line.
BANNER_LINES = 3
# /VER's whole output.
VERSION = "Ravlokfix v1.00.1\n"

FOUND_IN_MEMORY = "Infected process was found in memory\n"
NOT_IN_MEMORY = "Infected process was not found in memory\n"
CANNOT_CHECK = "Memory could not be checked for infected processes\n"
REMOVED = "Infection was found and removed\n"
NOTHING = "No infection found\n"
FAILED = "Infection was found.  An error occurred in the disinfection process.\n"
UNCHECKED = "Some checks could not be made: see the trace log.\n"
# Nothing found, but not everything could be checked (exit code 5).
NOT_COMPLETED = "The check could not be completed: see the trace log.\n"
RESTART = ("Restarting the computer is needed to complete the disinfection process.\n"
           "Please restart the computer now.\n")
# A user outside the Administrators group on the NT family (no line end).
LOGON = "Please log on to this workstation with administrator rights and\nrun the tool again."

# The exit code of a refused command line.
REFUSED = 87
# The exit code of a run that a console event cut short (STATUS_CONTROL_C_EXIT).
INTERRUPTED = 0xC000013A


def after_banner(stdout):
    """The console output after the banner's three lines."""
    parts = stdout.split("\n", BANNER_LINES)
    return parts[BANNER_LINES] if len(parts) > BANNER_LINES else ""


def banner_and_rest(test, stdout):
    """Checks the banner (first line, one notice line, an empty line) and returns the rest."""
    test.assertTrue(stdout.startswith(BANNER_FIRST), stdout)
    lines = stdout[len(BANNER_FIRST):].split("\n", 2)
    test.assertTrue(lines[0], "the notice line is missing")
    test.assertEqual(lines[1], "")
    return lines[2] if len(lines) > 2 else ""


def refusal(named):
    """The console line of a refused argument, before the usage text; named:
    the argument as the refusal shows it."""
    return f'Unknown argument "{named}": nothing was done.\n\n'


# --- the report-only run (/REPORT) -------------------------------------------------
REPORT_TAG = "[QRTK - Report_Ravlok]: "
NOTICE = "Report only: this run looks for W32/Ravlok.B on this computer and changes nothing.\n"
CLEAN = "Report: No infection found. Nothing was changed.\n"
REPORT_NOT_COMPLETED = "Report: The check could not be completed: see the trace log. Nothing was changed.\n"


# --- the trace log ---------------------------------------------------------------------
VERSION_LINE = "Ravlokfix v1.00.1"
DISINFECT = "[QRTK - Disinfect_Ravlok]"
REPLACE = "[QRTK - ReplaceFile]: "
SCHEDULE = "[QRTK - AddFileToAutomaticRenameList]: "
# A process id as the trace writes it after a path (a regular expression).
PID = r" \(PID=0x[0-9a-f]+\)"
TRACE_REMOVED = "Infections were found and removed."
TRACE_FAILED = "Infections were found.  An error occurred in the disinfection process."
TRACE_RESTART = "Restarting the computer is needed to complete the disinfection process."
TRACE_NOT_COMPLETED = "The check could not be completed."
TRACE_UNCHECKED = "Some checks could not be made."


def exiting(code):
    """A run's last line."""
    return f"Exiting, return value {code}"


def not_infected(path):
    return f"file {path} is not infected or doesn't exit"


def deleted(path, result=1):
    return f'Deleting file "{path}", result={result}'


def value_status(key, status):
    """key: the start-up key's path under its root (places.subkey)."""
    word = "OK" if status == 0 else "failed"
    return f"Value windowsupdate of {key} was deleted with status: {word} (0x{status:x})"


# --- every outcome of a removal run ------------------------------------------------------
# The outcome values the test build's seam presets (RAVLOKFIX_TEST_OUTCOME)
# on a clean machine, the arguments, the exit code, the whole console after
# the banner and the trace lines before the exit line.
OUTCOMES = [
    ("", [], 0, NOT_IN_MEMORY + NOTHING, []),
    ("errors=1", [], 0, NOT_IN_MEMORY + NOTHING, []),
    ("infection=2", [], 1, NOT_IN_MEMORY + REMOVED, [TRACE_REMOVED]),
    ("infection=2,reboot=1", [], 2, NOT_IN_MEMORY + REMOVED + RESTART, [TRACE_REMOVED, TRACE_RESTART]),
    ("infection=2,reboot=2", [], 2, NOT_IN_MEMORY + REMOVED + RESTART, [TRACE_REMOVED, TRACE_RESTART]),
    ("infection=2,errors=1", [], 3, NOT_IN_MEMORY + FAILED, [TRACE_FAILED]),
    ("infection=2,errors=1,reboot=1", [], 3, NOT_IN_MEMORY + FAILED + RESTART, [TRACE_FAILED, TRACE_RESTART]),
    # Nothing found where the tool looked, but not everything was checked:
    # no verdict of "nothing found".
    ("unchecked=1", [], 5, NOT_IN_MEMORY + NOT_COMPLETED, [TRACE_NOT_COMPLETED]),
    ("errors=1,unchecked=2", [], 5, NOT_IN_MEMORY + NOT_COMPLETED, [TRACE_NOT_COMPLETED]),
    ("infection=2,unchecked=1", [], 1, NOT_IN_MEMORY + REMOVED + UNCHECKED, [TRACE_REMOVED, TRACE_UNCHECKED]),
    # /SILENT leaves out the outcome alone.
    ("infection=2,errors=1,reboot=1", ["/SILENT"], 0, NOT_IN_MEMORY, []),
    ("unchecked=1", ["/SILENT"], 0, NOT_IN_MEMORY, []),
]
