"""Running worm copies: found by the process walk, ended and removed, on both
platform families; and the program's own imports."""

import os
import re
import time
import unittest

from messages import (CANNOT_CHECK, FAILED, FOUND_IN_MEMORY, NOT_IN_MEMORY, NOTHING, PID, REMOVED, REPLACE, deleted)
from places import WINUPDATE, WORM_COPY
from reboot_machines import pending_operations
from sandbox import PROGRAM, SIGNATURES, TEST_BIN, SandboxTestCase

SUMMARY_OK = "There were infected proceses, terminated with status =OK, start delete infected process files"


def examined(lines, path):
    pattern = re.compile(r"examinate process " + re.escape(path) + PID + "$")
    return [line for line in lines if pattern.match(line)]


class WormCase(SandboxTestCase):
    def start_worm(self, windows_path, crc=SIGNATURES[0]):
        self.box.plant_worm(windows_path, crc)
        return self.box.start_program(windows_path)

    def assert_worm_removed(self, worm, lines, logged_path):
        """The copy ended with exit code 0, its file is gone and the trace tells each step."""
        self.assertEqual(worm.wait(timeout=30), 0)
        expected = [
            r"examinate process " + re.escape(logged_path) + PID,
            r"Process " + re.escape(logged_path) + PID + " is infection",
            r"Process " + re.escape(logged_path) + " terminated with status 1",
            re.escape(deleted(logged_path)),
        ]
        at = 0
        for pattern in expected:
            found = [i for i in range(at, len(lines)) if re.fullmatch(pattern, lines[i])]
            self.assertTrue(found, f"{pattern} missing after line {at}:\n" + "\n".join(lines))
            at = found[0] + 1


class RunningWorm(WormCase):
    WORM = "C:\\Shared Files\\ravlok sample\\winupd.exe"

    def check_removal(self, run, logged_path):
        worm = self.start_worm(self.WORM)
        res = run()
        lines = self.box.log_lines()
        self.assert_worm_removed(worm, lines, logged_path)
        self.assertFalse(self.box.exists(self.WORM))
        self.assertEqual(res.code, 1, res.stdout)
        self.assertIn(FOUND_IN_MEMORY + REMOVED, res.stdout)
        self.assertIn(SUMMARY_OK, lines)
        self.assertNotIn("Cannot SetPrivilege", "\n".join(lines))

    def test_worm_copy_is_ended_and_removed(self):
        self.check_removal(self.box.run_program, self.WORM)

    def test_worm_copy_is_ended_and_removed_on_9x(self):
        self.box.see_win98()
        # Real 9x systems name the full path of each program in the toolhelp
        # walk; Wine names only the file, which the tool then finds (and
        # deletes) in its current directory: run it from the worm's folder.
        folder = self.box.host_path(self.WORM.rsplit("\\", 1)[0])
        self.check_removal(lambda: self.box.run_program(cwd=folder), "winupd.exe")

    def test_two_copies_one_per_signature(self):
        paths = ["C:\\Temp\\first\\svchost.exe", "C:\\Program Files\\Second\\taskmgr32.exe"]
        worms = [self.start_worm(path, crc) for path, crc in zip(paths, SIGNATURES)]
        res = self.box.run_program()
        lines = self.box.log_lines()
        for worm, path in zip(worms, paths):
            self.assert_worm_removed(worm, lines, path)
            self.assertFalse(self.box.exists(path))
        self.assertEqual(res.code, 1, res.stdout)
        self.assertIn(FOUND_IN_MEMORY, res.stdout)
        self.assertEqual(lines.count(SUMMARY_OK), 1)

    def test_no_worm_running(self):
        clean = "C:\\Tools\\idle.exe"
        os.makedirs(os.path.dirname(self.box.host_path(clean)), exist_ok=True)
        with open(os.path.join(TEST_BIN, "idle_program.exe"), "rb") as src:
            self.box.write_file(clean, src.read())
        idle = self.box.start_program(clean)
        res = self.box.run_program()
        lines = self.box.log_lines()
        self.assertEqual(res.code, 0, res.stdout)
        self.assertIn(NOT_IN_MEMORY + NOTHING, res.stdout)
        self.assertEqual(len(examined(lines, clean)), 1)
        first = next(i for i, line in enumerate(lines) if line.startswith("examinate process "))
        last = lines.index("No infected processes were found")
        self.assertGreater(last, first)
        for line in lines[first:last]:
            self.assertTrue(line.startswith("examinate process "), line)
        self.assertTrue(idle.running(), "a clean program was ended")

    def test_vdmdbg_unavailable(self):
        # None of its functions is called: its absence does not stop the walk.
        self.check_removal(lambda: self.box.run_program(env={"WINEDLLOVERRIDES": "vdmdbg=d;mscoree,mshtml="}),
                           self.WORM)

    def test_walk_that_cannot_start_says_so(self):
        worm = self.start_worm(self.WORM)
        dropped = WINUPDATE
        self.box.plant_worm(dropped)
        res = self.box.run_program(env={"WINEDLLOVERRIDES": "psapi=d;mscoree,mshtml="})
        lines = self.box.log_lines()
        # The check was not made, and the run counts that as an error.
        self.assertEqual(res.code, 3, res.stdout)
        self.assertIn(CANNOT_CHECK + FAILED, res.stdout)
        self.assertNotIn(NOT_IN_MEMORY, res.stdout)
        self.assertFalse([line for line in lines if line.startswith("examinate process")])
        self.assertIn("Cannot load PSAPI.DLL error=126", lines)
        self.assertIn("The process walk could not start, no process was examined", lines)
        self.assertNotIn("No infected processes were found", lines)
        self.assertTrue(worm.running())
        self.assertTrue(self.box.exists(self.WORM))
        self.assertFalse(self.box.exists(dropped))


class SwappedFolder(WormCase):
    """A user ends up steering the deletion: while the tool waits after ending
    a worm copy started from the user's folder, the folder is swapped for
    another holding a file of the same name. Only the file recognised may go."""

    MINE = "C:\\users\\Public\\Mine"
    OTHER = "C:\\Important"
    NAME = "wupd.exe"

    def swap_during_the_wait(self, swap):
        worm_path = self.MINE + "\\" + self.NAME
        victim = self.OTHER + "\\" + self.NAME
        worm = self.start_worm(worm_path)
        self.box.write_file(victim, b"another program's file")
        tool = self.box.start(PROGRAM)
        ended = f"Process {worm_path} terminated with status 1\r\n"
        deadline = time.monotonic() + 60
        while ended not in (self.box.log_text() or ""):
            self.assertTrue(tool.running(), "the tool ended before it ended the worm copy")
            self.assertLess(time.monotonic(), deadline, "the tool never ended the worm copy")
            time.sleep(0.01)
        mine, other = self.box.host_path(self.MINE), self.box.host_path(self.OTHER)
        os.rename(mine, mine + ".moved")
        swap(mine, other)
        self.assertEqual(tool.wait(timeout=120), 3)
        self.assertEqual(worm.wait(timeout=30), 0)
        lines = self.box.log_lines()
        # Neither the other file (now named by the worm copy's path) nor, by
        # its old path, the worm copy's own.
        self.assertEqual(self.box.read_file(worm_path), b"another program's file")
        self.assertTrue(os.path.exists(os.path.join(mine + ".moved", self.NAME)))
        self.assertIn(deleted(worm_path, 4), lines)
        self.assertEqual(pending_operations(self.box), [])
        return lines

    def test_folder_replaced_by_a_link(self):
        lines = self.swap_during_the_wait(lambda mine, other: os.symlink(other, mine))
        self.assertIn(f"{REPLACE}A folder of the path is a reparse point, not touched ({self.MINE}\\{self.NAME}).",
                      lines)

    def test_folder_replaced_by_another_folder(self):
        lines = self.swap_during_the_wait(lambda mine, other: os.rename(other, mine))
        self.assertIn(f"{REPLACE}The path names another file now, not touched ({self.MINE}\\{self.NAME}).", lines)

    def test_worm_copy_behind_a_link_is_not_deleted(self):
        # The link may lead elsewhere by the time the file would go (at the
        # restart, surely): the copy is ended but its file left, as an error.
        real = self.box.host_path("C:\\Real")
        os.makedirs(real)
        os.symlink(real, self.box.host_path("C:\\Linked"))
        worm = self.start_worm("C:\\Linked\\" + self.NAME)
        res = self.box.run_program()
        self.assertEqual(res.code, 3, res.stdout)
        self.assertEqual(worm.wait(timeout=30), 0)
        self.assertTrue(os.path.exists(os.path.join(real, self.NAME)))
        self.assertIn(f"{REPLACE}A folder of the path is a reparse point, not touched (C:\\Linked\\{self.NAME}).",
                      self.box.log_lines())


class PlantedLibraries(WormCase):
    """Copies of PSAPI.DLL and VDMDBG.DLL planted where a bare-name load
    would find them are never loaded: the tool loads them from the system
    directory. Wine prefers its own copies unless told otherwise, so every
    run here asks for native copies first."""

    NAMES = ("PSAPI.DLL", "VDMDBG.DLL")
    PREFER_NATIVE = {"WINEDLLOVERRIDES": "psapi,vdmdbg=n,b;mscoree,mshtml="}

    def plant(self, windows_folder):
        with open(os.path.join(TEST_BIN, "planted_library.dll"), "rb") as src:
            data = src.read()
        for name in self.NAMES:
            self.box.write_file(windows_folder + "\\" + name, data)
        return self.box.host_path(windows_folder)

    def copy_program(self, source, windows_path):
        with open(source, "rb") as src:
            self.box.write_file(windows_path, src.read())

    @staticmethod
    def markers(folder):
        return sorted(name.upper() for name in os.listdir(folder) if name.lower().endswith(".loaded"))

    def prove_bare_name_loads(self, loader, name, folder, cwd=None):
        """The suite's loader, given the bare name, does load the planted copy
        in folder: without the tool's care, it would be loaded."""
        loading = self.box.start(loader, name, env=self.PREFER_NATIVE, cwd=cwd)
        self.assertEqual(loading.finish()[0], 0)
        self.assertEqual(self.markers(folder), [name + ".LOADED"])
        for marker in os.listdir(folder):
            if marker.lower().endswith(".loaded"):
                os.remove(os.path.join(folder, marker))

    def test_copies_beside_the_program_and_in_the_current_directory(self):
        downloads = self.plant("C:\\Downloads")
        current = self.plant("C:\\Work")
        self.copy_program(PROGRAM, "C:\\Downloads\\Ravlokfix.exe")
        self.copy_program(os.path.join(TEST_BIN, "load_library.exe"), "C:\\Downloads\\load_library.exe")
        for name in self.NAMES:
            self.prove_bare_name_loads("C:\\Downloads\\load_library.exe", name, downloads)

        worm = self.start_worm(WORM_COPY)
        res = self.box.run_program(program="C:\\Downloads\\Ravlokfix.exe", env=self.PREFER_NATIVE, cwd=current)
        self.assertEqual(self.markers(downloads), [])
        self.assertEqual(self.markers(current), [])
        # The walk ran on the system's libraries and found the copy.
        self.assert_worm_removed(worm, self.box.log_lines(), WORM_COPY)
        self.assertEqual(res.code, 1, res.stdout)

    def test_copies_in_the_current_directory_where_the_system_lacks_them(self):
        # Without a system copy a bare name falls through to the current
        # directory; the tool then walks no process rather than load it, and
        # says that it could not look.
        for name in self.NAMES:
            os.remove(os.path.join(self.box.system_dir, name.lower()))
        current = self.plant("C:\\Work")
        self.copy_program(os.path.join(TEST_BIN, "load_library.exe"), "C:\\Tools\\load_library.exe")
        for name in self.NAMES:
            self.prove_bare_name_loads("C:\\Tools\\load_library.exe", name, current, cwd=current)

        res = self.box.run_program(env=self.PREFER_NATIVE, cwd=current)
        self.assertEqual(self.markers(current), [])
        self.assertIn(CANNOT_CHECK, res.stdout)


if __name__ == "__main__":
    unittest.main()
