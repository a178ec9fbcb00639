"""Helpers for the restart cases: a 64-bit machine (made once per test run,
on demand), the platform's pending delayed moves, the short form of a
path."""

import fcntl
import os
import re
import unittest

from messages import REPLACE
from sandbox import ARCH, TEST_BIN, TEST_ROOT, Sandbox, SandboxTestCase

TEMPLATE64 = "template64"
SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"


def only_in_suite(arch, why):
    """Marks a test case that belongs to one architecture's suite."""
    return unittest.skipUnless(ARCH == arch, f"a case of the {arch} suite: {why}")


def ensure_template64():
    """Makes the 64-bit template machine once per test run (about 13 s, 1.3 GB);
    the x64 suite's own template is one already."""
    if not TEST_ROOT:
        raise unittest.SkipTest("run through scripts/test, which makes the sandbox")
    if ARCH == "x64":
        return "template"
    prefix = os.path.join(TEST_ROOT, TEMPLATE64)
    ready = os.path.join(TEST_ROOT, TEMPLATE64 + ".ready")
    with open(os.path.join(TEST_ROOT, TEMPLATE64 + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(ready):
            return TEMPLATE64
        Sandbox.log_beside(prefix).create(64)
        open(ready, "w").close()
    return TEMPLATE64


class Sandbox64TestCase(SandboxTestCase):
    """A test case with a fresh 64-bit machine: the 32-bit program runs there
    under WoW64, the 64-bit one natively."""

    def setUp(self):
        self.template = ensure_template64()
        super().setUp()


def host_path32(box, windows_path):
    """The Linux path of the file that a 32-bit program reaches by that name:
    on a 64-bit machine its system32 is the syswow64 folder."""
    path = box.host_path(windows_path)
    system32 = box.system_dir + os.sep
    syswow64 = os.path.join(box.windows_dir, "syswow64")
    if os.path.isdir(syswow64) and path.lower().startswith(system32.lower()):
        return os.path.join(syswow64, path[len(system32):])
    return path


def pending_operations(box):
    """The names in the platform's list of delayed moves, in order, each
    whole: reg.exe exports in UTF-16, where a query would show a character
    outside the console's code page as "?". The export lies beside the
    machine's drive C:, whose files it leaves alone."""
    export = os.path.join(box.prefix, "pending-operations.reg")
    box.wine("reg", "export", SESSION_MANAGER, "Z:" + export.replace("/", "\\"), "/y")
    with open(export, "rb") as f:
        text = f.read().decode("utf-16")
    os.remove(export)
    # hex(7): the multi-string's bytes, its lines continued with a backslash.
    match = re.search(r'^"PendingFileRenameOperations"=hex\(7\):((?:.*\\\r?\n)*.*)$', text, re.M | re.I)
    if match is None:
        return []
    data = bytes(int(byte, 16) for byte in re.sub(r"[\s\\]", "", match.group(1)).split(",") if byte)
    names = data.decode("utf-16-le").split("\0")
    while names and names[-1] == "":
        names.pop()
    return names


def check_moved_then_deleted(test, box, lines, path, worm):
    """The trace moved the copy at path (as the trace names it) out of users'
    reach once, and the folder it went to was named first for the restart;
    once the copy (worm) has ended, the restart deletes it there."""
    moved = [line for line in lines if line.startswith(f"{REPLACE}File moved out of users' reach ({path} -> ")]
    test.assertEqual(len(moved), 1, lines)
    moved_path = moved[0][moved[0].index(" -> ") + 4:-2]
    test.assertEqual([name for name in pending_operations(box) if name][0], "\\??\\" + moved_path)
    worm.end()
    box.restart()
    test.assertFalse(box.exists(moved_path))


def short_path(box, windows_path):
    res = box.wine(os.path.join(TEST_BIN, "short_path.exe"), windows_path)
    return res.stdout.strip()
