"""The places of a sandbox machine that the worm's footprint and the
program's work touch, by the names a Windows program uses."""

WINDOWS_DIR = "C:\\windows"
SYSTEM_DIR = WINDOWS_DIR + "\\system32"
# A 64-bit machine's 32-bit system folder.
WOW64_DIR = WINDOWS_DIR + "\\syswow64"

# The files the worm drops in the system folder.
WINUPDATE = SYSTEM_DIR + "\\winupdate.exe"
PQONWE = SYSTEM_DIR + "\\pqonwe.exe"
DROPPED = (WINUPDATE, PQONWE)
# A running copy of the worm, where the cases start one.
WORM_COPY = "C:\\Temp\\winupd.exe"

SYSTEM_INI = WINDOWS_DIR + "\\system.ini"
SYSTEM_BAK = WINDOWS_DIR + "\\system.bak"
# The shell line the worm writes to system.ini's Boot section, and the one a removal leaves.
WORM_SHELL = "explorer.exe winupdate.exe"
CLEAN_SHELL = "explorer.exe"
WININIT = WINDOWS_DIR + "\\WININIT.INI"
# The program's trace log.
LOG = WINDOWS_DIR + "\\Ravlokfix.log"

# The start-up keys under their roots, and the keys with the root whose value the worm sets.
RUN = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
RUNONCE = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
RUN_KEY = "HKLM\\" + RUN
RUNONCE_KEY = "HKCU\\" + RUNONCE
RUN_KEYS = (RUN_KEY, RUNONCE_KEY)
VALUE_NAME = "windowsupdate"
# Where the NT family keeps system.ini's Boot section when the section is mapped.
WINLOGON = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"

_ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}


def subkey(key):
    """The key's path under its root, as the trace names it."""
    return key.split("\\", 1)[1]


def long_key(key):
    """HKLM\\x -> HKEY_LOCAL_MACHINE\\x, as the report names a key."""
    root, rest = key.split("\\", 1)
    return _ROOTS[root] + "\\" + rest


def short_key(key):
    """HKEY_LOCAL_MACHINE\\x -> HKLM\\x, as reg.exe takes it."""
    root, rest = key.split("\\", 1)
    return {name: short for short, name in _ROOTS.items()}[root] + "\\" + rest
