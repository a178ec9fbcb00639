"""Worm files that are in use when the tool runs: scheduled for the next
restart on either platform family, and gone after it."""

import os
import unittest

import programs
from infection import Infection
from messages import (FAILED, FOUND_IN_MEMORY, REMOVED, REPLACE, RESTART, SCHEDULE, after_banner, deleted,
                      not_infected, value_status)
from places import RUN, RUN_KEY, RUNONCE, RUNONCE_KEY, VALUE_NAME, WININIT, WINUPDATE, WOW64_DIR
from reboot_machines import (Sandbox64TestCase, check_moved_then_deleted, host_path32, only_in_suite,
                             pending_operations, short_path)
from sandbox import SandboxTestCase

# A copy that cannot be ended, where it runs from.
WORM_COPY = "C:\\windows\\temp\\wormcopy.exe"

# A WININIT.INI as other programs leave it: comments, sections before and
# after "rename", an entry already waiting there, keys indented and spaced
# with blanks, blank lines and a line longer than any line buffer.
WININIT_BEFORE_RENAME = ("; written by an installer\r\n"
                         "\r\n"
                         "[Settings]\r\n"
                         "  Indented = two blanks before\r\n"
                         "    Deeper=four blanks before\r\n"
                         "Spaced   =   far apart   \r\n"
                         "Long=" + "x" * 1500 + "\r\n"
                         "[rename]\r\n"
                         "nul=C:\\windows\\temp\\leftover.tmp\r\n")
WININIT_AFTER_RENAME = ("[Other]\r\n"
                        "; last comment\r\n"
                        "key=value\r\n")


class RestartCase(SandboxTestCase):
    def held_copy(self, held=WINUPDATE, planted_at=None):
        """The holder of a worm copy at planted_at (held by default), which it
        holds open by the name held. The machine's server stays up: from now
        on nothing is carried out before the restart."""
        infection = Infection(self.box, running=(), files=(planted_at or held,), held=(held,), startup=False)
        return infection.holders[0]

    def check_scheduled_run(self, res, path):
        self.assertEqual(res.code, 2, res.stdout)
        self.assertTrue(after_banner(res.stdout).endswith(REMOVED + RESTART), res.stdout)
        lines = self.box.log_lines()
        self.assertIn(f"{REPLACE}File will be deleted during reboot ({path}).", lines)
        self.assertIn(deleted(path, 2), lines)


class NtFamily(RestartCase):
    def test_dropped_file_in_use_is_deleted_at_restart(self):
        holder = self.held_copy()
        res = self.box.run_program()
        self.check_scheduled_run(res, WINUPDATE)
        lines = self.box.log_lines()
        for line in ("System is NT.", "User is admin.", "Operation is executed during reboot."):
            self.assertIn(SCHEDULE + line, lines)
        self.assertIn("\\??\\" + WINUPDATE, pending_operations(self.box))
        self.assertTrue(self.box.exists(WINUPDATE))

        holder.end()
        self.box.restart()
        self.assertFalse(self.box.exists(WINUPDATE))
        self.assertEqual(pending_operations(self.box), [])


class RefusedTermination(RestartCase):
    def test_worm_copy_that_cannot_be_ended_is_deleted_at_restart(self):
        # A stand-in that denies everyone the right to end it. Users may
        # write to the folder it runs from: it is moved out of their reach,
        # and the restart deletes it there.
        worm = self.box.start_unendable_worm(WORM_COPY)
        res = self.box.run_program()
        self.assertIn(FOUND_IN_MEMORY, res.stdout)
        # A copy left running is no removal, whatever becomes of its file.
        self.assertEqual(res.code, 3, res.stdout)
        self.assertTrue(after_banner(res.stdout).endswith(FAILED + RESTART), res.stdout)
        lines = self.box.log_lines()
        self.assertIn(deleted(WORM_COPY, 2), lines)
        self.assertTrue(any(line.startswith(f"cannot open infected process {WORM_COPY}, Error=") for line in lines),
                        lines)
        self.assertTrue(worm.running())
        self.assertFalse(self.box.exists(WORM_COPY))
        check_moved_then_deleted(self, self.box, lines, WORM_COPY, worm)


class Win9xFamily(RestartCase):
    def setUp(self):
        super().setUp()
        self.box.see_win98()

    def test_dropped_file_in_use_goes_through_wininit(self):
        holder = self.held_copy()
        leftover = self.box.write_file("C:\\windows\\temp\\leftover.tmp", "left over")
        old = WININIT_BEFORE_RENAME + WININIT_AFTER_RENAME
        self.box.write_file(WININIT, old)
        entry = "nul=" + short_path(self.box, WINUPDATE)
        self.assertNotEqual(entry, "nul=" + WINUPDATE)

        res = self.box.run_program()
        self.check_scheduled_run(res, WINUPDATE)
        lines = self.box.log_lines()
        for line in ("System is not NT.", "Operation will be executed during reboot."):
            self.assertIn(SCHEDULE + line, lines)
        # Every byte as it was, and the one entry behind the waiting one.
        self.assertEqual(self.box.read_file(WININIT).decode("latin-1"),
                         WININIT_BEFORE_RENAME + entry + "\r\n" + WININIT_AFTER_RENAME.rstrip("\r\n"))
        self.assertEqual(pending_operations(self.box), [])
        self.assertTrue(self.box.exists(WINUPDATE))

        holder.end()
        self.box.restart()
        self.assertFalse(self.box.exists(WINUPDATE))
        self.assertFalse(os.path.exists(leftover))
        self.assertFalse(self.box.exists(WININIT))

    def test_first_entry_creates_wininit(self):
        holder = self.held_copy()
        res = self.box.run_program()
        self.check_scheduled_run(res, WINUPDATE)
        self.assertEqual(self.box.read_file(WININIT).decode("latin-1"),
                         "[rename]\r\nnul=" + short_path(self.box, WINUPDATE))
        holder.end()
        self.box.restart()
        self.assertFalse(self.box.exists(WINUPDATE))

    def check_unwritable_wininit(self, make_unwritable):
        holder = self.held_copy()
        before = make_unwritable()
        res = self.box.run_program()
        self.assertEqual(res.code, 3, res.stdout)
        self.assertTrue(after_banner(res.stdout).endswith(FAILED), res.stdout)
        lines = self.box.log_lines()
        self.assertIn(SCHEDULE + "Operation cannot be executed during reboot.", lines)
        self.assertIn(f"{REPLACE}File cannot be deleted during reboot ({WINUPDATE}).", lines)
        self.assertIn(deleted(WINUPDATE, 4), lines)
        if before is not None:
            self.assertEqual(self.box.read_file(WININIT), before)
        # Nothing was scheduled: the worm copy outlives the restart.
        holder.end()
        self.box.restart()
        self.assertTrue(self.box.exists(WINUPDATE))

    def test_wininit_that_is_a_folder(self):
        def make_folder():
            os.makedirs(self.box.host_path(WININIT))
            return None
        self.check_unwritable_wininit(make_folder)

    def test_wininit_that_is_read_only(self):
        def make_read_only():
            path = self.box.write_file(WININIT, WININIT_BEFORE_RENAME)
            # Wine lets root write whatever the permission bits say.
            if programs.run_silently(["chattr", "+i", path]) != 0:
                self.skipTest("this file system cannot make a file immutable")
            self.addCleanup(programs.run_silently, ["chattr", "-i", path])
            return WININIT_BEFORE_RENAME.encode("latin-1")
        self.check_unwritable_wininit(make_read_only)


@only_in_suite("x86", "the 32-bit program under WoW64")
class Wow64(RestartCase, Sandbox64TestCase):
    """The tool as a 32-bit program on a 64-bit system: its system32 is the
    32-bit system folder, which the restart knows by its own name."""

    def test_dropped_file_in_32_bit_system_folder_is_deleted_at_restart(self):
        worm = host_path32(self.box, WINUPDATE)
        self.assertIn("syswow64", worm.lower())
        # A native file of the same name that nothing may touch.
        native = self.box.write_file(WINUPDATE, "native bystander")
        holder = self.held_copy(planted_at=WOW64_DIR + "\\winupdate.exe")
        res = self.box.run_program()
        self.check_scheduled_run(res, WINUPDATE)
        pending = [name.lower() for name in pending_operations(self.box)]
        self.assertIn(f"{SCHEDULE}Native path for the restart ({WINUPDATE} -> {WOW64_DIR}\\winupdate.exe).",
                      self.box.log_lines())

        holder.end()
        self.box.restart()
        self.assertFalse(os.path.exists(worm))
        with open(native, "rb") as f:
            self.assertEqual(f.read(), b"native bystander")
        # Recorded under the 32-bit folder's own name.
        self.assertIn("\\??\\c:\\windows\\syswow64\\winupdate.exe", pending)
        self.assertNotIn("\\??\\" + WINUPDATE.lower(), pending)


@only_in_suite("x64", "the 64-bit program on a 64-bit machine")
class Wow64Footprint(RestartCase, Sandbox64TestCase):
    """The worm is a 32-bit program: on a 64-bit machine its files lie in the
    32-bit system folder and its values in the 32-bit registry view. The
    64-bit program finds them there as well as in the native places."""

    def test_32_bit_footprint_is_removed(self):
        removed, held = WOW64_DIR + "\\winupdate.exe", WOW64_DIR + "\\pqonwe.exe"
        self.box.plant_worm(removed)
        self.box.plant_worm(held)
        # A native file of a worm name that is no worm copy: left alone.
        bystander = self.box.write_file(WINUPDATE, "native bystander")
        for view in (32, 64):
            self.box.reg_add(RUN_KEY, VALUE_NAME, removed, view=view)
        self.box.reg_add(RUNONCE_KEY, VALUE_NAME, removed, view=32)
        holder = self.box.hold_file(held)

        res = self.box.run_program()
        self.check_scheduled_run(res, held)
        lines = self.box.log_lines()
        self.assertIn(deleted(removed), lines)
        self.assertIn(not_infected(WINUPDATE), lines)
        self.assertFalse(self.box.exists(removed))
        self.assertIn("\\??\\" + held, pending_operations(self.box))
        for view in (32, 64):
            with self.subTest(view=view):
                self.assertIsNone(self.box.reg_query(RUN_KEY, VALUE_NAME, view=view))
                self.assertIsNone(self.box.reg_query(RUNONCE_KEY, VALUE_NAME, view=view))
        # Each view of the redirected Run key is visited; the RunOnce key of
        # the current user is one key in both views and is visited once.
        self.assertEqual(lines.count(value_status(RUN, 0)), 2)
        self.assertEqual([l for l in lines if "\\RunOnce was deleted" in l], [value_status(RUNONCE, 0)])

        holder.end()
        self.box.restart()
        self.assertFalse(self.box.exists(held))
        with open(bystander, "rb") as f:
            self.assertEqual(f.read(), b"native bystander")


if __name__ == "__main__":
    unittest.main()
