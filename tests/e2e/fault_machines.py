"""Helpers for the fault cases: the program's run with a census of its
handles, read-only files, a machine whose files obey their permissions,
registry keys with a DACL, folders of a given length, the debugger output of
a run and the state of a machine's files."""

import codecs
import os
import re
from collections import namedtuple

from places import LOG
from sandbox import TEST_BIN

CENSUS_PROGRAM = os.path.join(TEST_BIN, "handle_census.exe")
CENSUS_REPORT = "C:\\handle-census.txt"
# The one handle a run keeps: its trace log, open until the process ends.
LOG_HANDLE = ("File", "\\??\\" + LOG)

Census = namedtuple("Census", "before after new gone")


# --- the run with its census ---------------------------------------------------
def census_run(box, *args, env=None, cwd=None, program=CENSUS_PROGRAM):
    """Runs the program's entry point in handle_census.exe (or a copy of it
    at program), which counts the process's handles before and after;
    returns the result and the census."""
    report = box.host_path(CENSUS_REPORT)
    if os.path.exists(report):
        os.remove(report)
    run_env = {"RAVLOK_CENSUS": CENSUS_REPORT}
    run_env.update(env or {})
    res = box.run_program(*args, program=program, env=run_env, cwd=cwd)
    with open(report, encoding="latin-1") as f:
        lines = f.read().splitlines()
    counts = dict(line.split() for line in lines[:2])
    listed = {"new": [], "gone": []}
    for line in lines[2:]:
        word, kind, name = line.split(" ", 2)
        listed[word].append((kind, name))
    return res, Census(int(counts["before"]), int(counts["after"]), listed["new"], listed["gone"])


# --- permissions and rights ----------------------------------------------------------
def set_read_only(box, windows_path):
    box.wine("attrib", "+r", windows_path)


def obey_file_permissions(box):
    """Restarts the machine's server without the superuser's right to read and
    write every file: the server opens the files for its programs, which
    from now on meet each file's permissions as an ordinary user would (the
    tests run as root, for whom Wine ignores them). That server is kept up."""
    box.stop()
    box.keep_server(("setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--")
                    if os.geteuid() == 0 else ())


def set_key_dacl(box, key, sddl):
    """key as the security functions name it, e.g. MACHINE\\SOFTWARE\\..."""
    box.wine(os.path.join(TEST_BIN, "set_key_dacl.exe"), key, sddl)


# --- paths of a given length ------------------------------------------------------------
def folder_of_length(box, length, top="C:\\Deep"):
    """Makes a folder whose Windows path is exactly length characters long."""
    path = top
    while len(path) < length:
        # Names of at most 200 characters, each after its separator; the
        # last one never shorter than one character.
        rest = length - len(path)
        name = rest - 1 if rest <= 201 else min(200, rest - 3)
        path += "\\" + chr(ord("a") + len(path) % 26) * name
    assert len(path) == length, (len(path), length)
    os.makedirs(box.host_path(path), exist_ok=True)
    return path


# --- debugger output ------------------------------------------------------------------------
DEBUG_CHANNEL = {"WINEDEBUG": "-all,+debugstr"}
_DEBUG_STRING = re.compile(r'^[0-9a-f]+:warn:debugstr:OutputDebugStringA "(.*)"$')


def debugger_text(box, since):
    """The text a program handed to the debugger output, from Wine's
    debugstr channel, written to the machine's stderr log after offset since."""
    with open(box.stderr_log, "rb") as f:
        f.seek(since)
        raw = f.read().decode("latin-1")
    pieces = []
    for line in raw.splitlines():
        match = _DEBUG_STRING.match(line)
        if match:
            pieces.append(codecs.decode(match.group(1), "unicode_escape"))
    return "".join(pieces)


def stderr_size(box):
    return os.path.getsize(box.stderr_log) if os.path.exists(box.stderr_log) else 0


# --- the state of a machine ---------------------------------------------------------------
def file_state(box):
    """Every file of drive C: with its size and time of last change."""
    state = {}
    for folder, _, names in os.walk(box.drive_c):
        for name in names:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            state[os.path.relpath(path, box.drive_c)] = (info.st_size, info.st_mtime_ns)
    return state
