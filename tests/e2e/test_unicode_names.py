"""Worm copies whose paths the ANSI code page (1252 here) cannot hold, in a
folder named in Cyrillic or under a name in Japanese, and one whose name it
holds outside ASCII: the report lists them, the removal ends and deletes
them, also when a copy cannot be ended and goes at the restart (from the
system folder by its whole name, not an 8.3 name). Each line
names the file as an administrator can find it: its own path where the
code page holds it, else its short path."""

import os
import re
import shutil
import unittest

from messages import FAILED, FOUND_IN_MEMORY, REMOVED, REPLACE, RESTART, after_banner, deleted
from places import SYSTEM_DIR
from reboot_machines import check_moved_then_deleted, pending_operations, short_path
from sandbox import PROGRAM, SandboxTestCase

COPIES = (
    ("folder in Cyrillic", "C:\\users\\Public\\Дом\\w.exe"),
    ("name in Japanese", "C:\\users\\Public\\x\\ワーム.exe"),
    ("Latin name outside ASCII", "C:\\users\\Public\\x\\Ärger.exe"),
)


def in_code_page(path):
    try:
        path.encode("cp1252")
        return True
    except UnicodeEncodeError:
        return False


class UnicodeNames(SandboxTestCase):
    def shown(self, path):
        return path if in_code_page(path) else short_path(self.box, path)

    def test_copies_are_reported_then_ended_and_deleted(self):
        for what, path in COPIES:
            with self.subTest(what):
                self.box.plant_worm(path)
                worm = self.box.start_program(path)
                shown = self.shown(path)
                self.assertNotIn("?", shown)

                res = self.box.run_program("/REPORT")
                self.assertEqual(res.code, 4, res.stdout)
                self.assertRegex(res.stdout, "\nReport: worm process running: " + re.escape(shown) +
                                 r" \(PID=0x[0-9a-f]+\), left running\n")
                self.assertTrue(worm.running())

                res = self.box.run_program()
                self.assertEqual(res.code, 1, res.stdout)
                self.assertEqual(after_banner(res.stdout), FOUND_IN_MEMORY + REMOVED)
                self.assertEqual(worm.wait(timeout=30), 0)
                self.assertFalse(self.box.exists(path))
                self.assertIn(deleted(shown), self.box.log_lines())

    def run_beside_unendable_copy(self, path):
        """Runs the tool beside a stand-in at path that denies everyone the
        right to end it: the copy is left running, an error, though its file
        goes at the restart. Returns the trace, the stand-in and the path as
        the trace shows it."""
        worm = self.box.start_unendable_worm(path)
        # Asked while the file is there: a short path names an existing file.
        shown = self.shown(path)
        res = self.box.run_program()
        self.assertEqual(res.code, 3, res.stdout)
        self.assertEqual(after_banner(res.stdout), FOUND_IN_MEMORY + FAILED + RESTART)
        lines = self.box.log_lines()
        self.assertIn(deleted(shown, 2), lines)
        self.assertTrue(worm.running())
        return lines, worm, shown

    def test_copy_that_cannot_be_ended_goes_at_the_restart(self):
        # In a folder named in Cyrillic: moved out of users' reach, deleted
        # at the restart.
        path = COPIES[0][1]
        lines, worm, shown = self.run_beside_unendable_copy(path)
        self.assertFalse(self.box.exists(path))
        check_moved_then_deleted(self, self.box, lines, shown, worm)

    def test_copy_in_the_system_folder_that_cannot_be_ended_goes_by_its_whole_name(self):
        # Users cannot change the system folder: the restart is given the
        # file's own name there, the whole of it, not an 8.3 name, which a
        # volume need not have.
        path = SYSTEM_DIR + "\\ワーム.exe"
        lines, worm, shown = self.run_beside_unendable_copy(path)
        self.assertIn(f"{REPLACE}File will be deleted during reboot ({shown}).", lines)
        self.assertEqual(pending_operations(self.box), ["\\??\\" + path])
        self.assertTrue(self.box.exists(path))

        worm.end()
        self.box.restart()
        self.assertFalse(self.box.exists(path))

    def test_tool_run_from_a_user_folder_in_cyrillic(self):
        # A user whose folders are named in Cyrillic runs the tool where it
        # was downloaded, beside a worm copy: the copy goes, the tool stays.
        folder = "C:\\users\\Дмитрий\\Downloads"
        tool = self.box.host_path(folder + "\\Ravlokfix.exe")
        os.makedirs(os.path.dirname(tool), exist_ok=True)
        shutil.copy(PROGRAM, tool)
        path = folder + "\\setup.exe"
        self.box.plant_worm(path)
        worm = self.box.start_program(path)
        shown = self.shown(path)

        res = self.box.run_program(program=tool, cwd=os.path.dirname(tool))
        self.assertEqual(res.code, 1, res.stdout)
        self.assertEqual(after_banner(res.stdout),
                         "Infected process was found in memory\nInfection was found and removed\n")
        self.assertEqual(worm.wait(timeout=30), 0)
        self.assertFalse(self.box.exists(path))
        self.assertTrue(os.path.exists(tool))
        self.assertIn(f'Deleting file "{shown}", result=1', self.box.log_lines())


if __name__ == "__main__":
    unittest.main()
