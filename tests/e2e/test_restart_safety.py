"""What the tool leaves for the restart cannot be aimed at another file by a
user, and a worm copy that stays is not reported removed.

The attack: a user runs a worm stand-in from a folder of their own and keeps
its file open, so that it cannot go now. Once the run is over they delete the
file and turn the folder into a link to another folder that holds a file of
the same name. Whatever the restart deletes by the old path, it deletes
there, with the system's rights."""

import os
import re
import unittest

from messages import FAILED, FOUND_IN_MEMORY, REMOVED, REPLACE, RESTART, UNCHECKED, deleted
from places import WINUPDATE
from reboot_machines import pending_operations
from sandbox import SandboxTestCase

USER_FOLDER = "C:\\users\\Public\\x"
WORM = USER_FOLDER + "\\wupd.exe"
OTHER_FOLDER = "C:\\Important"
PRECIOUS = b"another program's file"
MOVED = re.compile(re.escape(REPLACE + "File moved out of users' reach (") + r"(.+) -> "
                   r"(C:\\windows\\Ravlokfix-[0-9A-F]{16})\\worm\.del\)\.")


class RestartSafety(SandboxTestCase):
    def link_user_folder_elsewhere(self):
        """The user's side after the run: every program ends, and the folder
        becomes a link to another folder that holds a file of the worm
        copy's name. The next start of the machine is its restart."""
        self.box.stop()
        other = self.box.write_file(OTHER_FOLDER + "\\wupd.exe", PRECIOUS)
        mine = self.box.host_path(USER_FOLDER)
        for name in os.listdir(mine):
            os.remove(os.path.join(mine, name))
        os.rmdir(mine)
        os.symlink(os.path.dirname(other), mine)
        return other

    def assert_restart_spares(self, other, pending):
        self.assertTrue(os.path.exists(other), "the restart deleted the other folder's file")
        with open(other, "rb") as f:
            self.assertEqual(f.read(), PRECIOUS)
        self.assertEqual([name for name in pending if "\\users\\public\\" in name.lower()], [])

    def test_worm_copy_held_without_delete_sharing_leaves_nothing_to_aim(self):
        self.box.plant_worm(WORM)
        worm = self.box.start_program(WORM)
        self.box.hold_file(WORM)
        res = self.box.run_program()
        lines = self.box.log_lines()
        pending = pending_operations(self.box)
        self.assertEqual(worm.wait(timeout=30), 0)

        other = self.link_user_folder_elsewhere()
        self.box.restart()
        self.assert_restart_spares(other, pending)
        self.assertEqual(pending, [])
        # The copy could not go: an error, with the file and the reason.
        self.assertEqual(res.code, 3, res.stdout)
        self.assertTrue(res.stdout.endswith(FOUND_IN_MEMORY + FAILED), res.stdout)
        self.assertIn(f"{REPLACE}File cannot be moved out of users' reach, error 32: nothing is scheduled ({WORM}).",
                      lines)
        self.assertIn(deleted(WORM, 4), lines)

    def test_worm_copy_that_cannot_be_ended_is_moved_out_of_reach(self):
        # A stand-in that denies everyone the right to end it: its program
        # file cannot be deleted while it runs, but it can be moved.
        worm = self.box.start_unendable_worm(WORM)
        res = self.box.run_program()
        lines = self.box.log_lines()
        pending = pending_operations(self.box)
        moves = [m.groups() for m in map(MOVED.fullmatch, lines) if m]
        self.assertEqual([source for source, _ in moves], [WORM], lines)
        folder = moves[0][1]
        moved = folder + "\\worm.del"
        self.assertEqual([name for name in pending if name], ["\\??\\" + moved, "\\??\\" + folder])
        self.assertIn(f"{REPLACE}File will be deleted during reboot ({moved}).", lines)
        self.assertIn(deleted(WORM, 2), lines)
        # The copy runs on: an error, though its file goes at the restart.
        self.assertEqual(res.code, 3, res.stdout)
        self.assertTrue(res.stdout.endswith(FOUND_IN_MEMORY + FAILED + RESTART), res.stdout)
        self.assertTrue(worm.running())
        self.assertFalse(self.box.exists(WORM))

        other = self.link_user_folder_elsewhere()
        self.box.restart()
        self.assert_restart_spares(other, pending)
        self.assertFalse(self.box.exists(moved))
        self.assertFalse(self.box.exists(folder))

    def test_worm_copies_on_volumes_that_keep_no_users_out_are_not_moved(self):
        # A removable disk may carry another letter at the restart, who may
        # reach a network volume its server decides, and a volume without
        # access lists lets everyone into a folder of the tool's own. Wine
        # takes each drive's type from HKLM\Software\Wine\Drives when its
        # server starts, and reports access lists for every drive but a CD.
        drives = (
            # letter, drive type, the trace lines of the copy there
            ("D", "floppy", [REPLACE + "File cannot be moved out of users' reach: D:\\ is no local fixed disk "
                                       "(drive type 2), nothing is scheduled (D:\\x\\wupd.exe).",
                             deleted("D:\\x\\wupd.exe", 4)]),
            # A program on a network drive is not even opened: a check not made.
            ("E", "network", ["File E:\\x\\wupd.exe is not checked: it lies on a network drive, which the tool "
                              "does not open"]),
            ("F", "cdrom", [REPLACE + "File cannot be moved out of users' reach: F:\\ keeps no access lists, "
                                      "nothing is scheduled (F:\\x\\wupd.exe).",
                            deleted("F:\\x\\wupd.exe", 4)]),
        )
        copies = [(f"{letter}:\\x\\wupd.exe", self.box.add_drive(letter, kind)) for letter, kind, _ in drives]
        self.box.stop()
        for path, _ in copies:
            self.box.start_unendable_worm(path)

        res = self.box.run_program()
        lines = self.box.log_lines()
        self.assertEqual(res.code, 3, res.stdout)
        self.assertTrue(res.stdout.endswith(FOUND_IN_MEMORY + FAILED + UNCHECKED), res.stdout)
        for (_, _, traced), (path, folder) in zip(drives, copies):
            with self.subTest(path):
                for line in traced:
                    self.assertIn(line, lines)
                self.assertEqual(sorted(os.listdir(folder)), ["x"])
                self.assertTrue(os.path.exists(os.path.join(folder, "x", "wupd.exe")))
        self.assertEqual(pending_operations(self.box), [])

    def test_dropped_file_held_with_delete_access_is_not_reported_removed(self):
        # Another program may undo a deletion while it holds the file with
        # delete access: the copy goes at the restart, and is reported so.
        self.box.plant_worm(WINUPDATE)
        holder = self.box.hold_file(WINUPDATE, "/delete")
        res = self.box.run_program()
        lines = self.box.log_lines()
        self.assertEqual(res.code, 2, res.stdout)
        self.assertTrue(res.stdout.endswith(REMOVED + RESTART), res.stdout)
        self.assertIn(deleted(WINUPDATE, 2), lines)
        self.assertIn(f"{REPLACE}File will be deleted during reboot ({WINUPDATE}).", lines)
        self.assertIn("\\??\\" + WINUPDATE, pending_operations(self.box))
        self.assertTrue(self.box.exists(WINUPDATE))

        holder.end()
        self.assertTrue(self.box.exists(WINUPDATE))
        self.box.restart()
        self.assertFalse(self.box.exists(WINUPDATE))


if __name__ == "__main__":
    unittest.main()
