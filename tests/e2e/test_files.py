"""The worm's dropped files, its start-up values and its system.ini shell
line, removed by real runs of the program, from recognition to exit code."""

import os
import unittest

from sandbox import ARCH, SIGNATURES, TEST_BIN, SandboxTestCase, wormify

SYSTEM_DIR = "C:\\windows\\system32"
WINUPDATE = SYSTEM_DIR + "\\winupdate.exe"
PQONWE = SYSTEM_DIR + "\\pqonwe.exe"
SYSTEM_INI = "C:\\windows\\system.ini"
SYSTEM_BAK = "C:\\windows\\system.bak"
RUN = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
RUNONCE = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
WINLOGON = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"

BANNER_FIRST = "W32/Ravlok.B Removal Tool ver 1.00.1\n"
FOUND = "Infection was found and removed\n"
NOTHING = "No infection found\n"
FAILED = "Infection was found.  An error occurred in the disinfection process.\n"

# Lines of the steps under test; other steps may trace in between.
OWN_LINES = ("file ", "Deleting file ", "[QRTK - ReplaceFile]", "[QRTK - FileExist]", "Value ", "Cannot open key ",
             "system.ini boot.shell=", "cannot make win.ini backup copy")


def idle_program():
    with open(os.path.join(TEST_BIN, "idle_program.exe"), "rb") as f:
        return f.read()


def not_infected(path):
    return f"file {path} is not infected or doesn't exit"


def deleted(path):
    return [f"[QRTK - ReplaceFile]: Delete operation ({path}).",
            f"[QRTK - FileExist]: File {path} exists.",
            f"[QRTK - ReplaceFile]: Src file exists ({path}).",
            f"[QRTK - ReplaceFile]: File was deleted ({path}).",
            f'Deleting file "{path}", result=1']


def value_status(key, status):
    word = "OK" if status == 0 else "failed"
    return f"Value windowsupdate of {key} was deleted with status: {word} (0x{status:x})"


# The 64-bit program also looks in the 32-bit system folder and in the 32-bit
# registry view, after the native places: HKLM's Run key has a 32-bit view of
# its own, HKCU's RunOnce key is shared by both views.
WOW64_DIR = "C:\\windows\\syswow64"


def wow64_not_infected():
    if ARCH != "x64":
        return []
    return [not_infected(WOW64_DIR + "\\winupdate.exe"), not_infected(WOW64_DIR + "\\pqonwe.exe")]


def run_statuses(native, wow64=2, nine_x=False):
    # Wine shows a program of the 9x family one registry view only.
    views = ARCH == "x64" and not nine_x
    return [value_status(RUN, native)] + ([value_status(RUN, wow64)] if views else [])


class RemovalCase(SandboxTestCase):
    def run_tool(self, *args, **kwargs):
        """Runs the program; returns its result and the trace lines of this run."""
        before = len(self.box.log_lines())
        res = self.box.run_program(*args, **kwargs)
        lines = self.box.log_lines()[max(before - 1, 0):-1]
        self.assertTrue(res.stdout.startswith(BANNER_FIRST), res.stdout)
        self.assertEqual(lines[-1], f"Exiting, return value {res.code}")
        return res, lines

    def own(self, lines):
        return [line for line in lines if line.startswith(OWN_LINES)]

    def clean_registry_lines(self, nine_x=False):
        return run_statuses(2, nine_x=nine_x) + [f"Cannot open key {RUNONCE} 0x2"]


class DroppedFiles(RemovalCase):
    def check_both_removed(self, nine_x=False):
        self.box.plant_worm(WINUPDATE, SIGNATURES[0])
        self.box.plant_worm(PQONWE, SIGNATURES[1])
        res, lines = self.run_tool()
        self.assertEqual(res.code, 1)
        self.assertTrue(res.stdout.endswith(FOUND), res.stdout)
        self.assertFalse(self.box.exists(WINUPDATE))
        self.assertFalse(self.box.exists(PQONWE))
        self.assertEqual(self.own(lines),
                         deleted(WINUPDATE) + deleted(PQONWE) + wow64_not_infected() +
                         self.clean_registry_lines(nine_x))
        self.assertEqual(lines[-2], "Infections were found and removed.")

    def test_both_dropped_files_are_removed(self):
        self.check_both_removed()

    def test_both_dropped_files_are_removed_on_9x(self):
        self.box.see_win98()
        self.check_both_removed(nine_x=True)

    def test_clean_machine(self):
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertTrue(res.stdout.endswith(NOTHING), res.stdout)
        self.assertEqual(self.own(lines), [not_infected(WINUPDATE), not_infected(PQONWE)] + wow64_not_infected() +
                         self.clean_registry_lines())

    def test_only_worm_content_counts(self):
        worm = wormify.force_crc(idle_program(), SIGNATURES[0])
        exact = wormify.force_crc(bytes(range(256)) * 32, SIGNATURES[1])
        self.assertEqual(len(exact), 8192)
        cases = [
            # what, winupdate.exe, pqonwe.exe, exit code, console, removed
            ("same name, other content; short copy", idle_program(), worm[:8191], 0, NOTHING, set()),
            ("signature over exactly 8192 bytes", idle_program(), exact, 1, FOUND, {PQONWE}),
            ("signature, then other bytes", worm[:8192] + b"\0" * 100, None, 1, FOUND, {WINUPDATE}),
        ]
        for what, first, second, code, console, removed in cases:
            with self.subTest(what):
                content = {}
                for path, data in ((WINUPDATE, first), (PQONWE, second)):
                    if data is not None:
                        self.box.write_file(path, data)
                        content[path] = data
                res, lines = self.run_tool()
                self.assertEqual(res.code, code)
                self.assertTrue(res.stdout.endswith(console), res.stdout)
                for path in (WINUPDATE, PQONWE):
                    if path in removed:
                        self.assertFalse(self.box.exists(path))
                        self.assertIn(f'Deleting file "{path}", result=1', lines)
                    else:
                        self.assertIn(not_infected(path), lines)
                        if path in content:
                            self.assertEqual(self.box.read_file(path), content[path])
                            os.remove(self.box.host_path(path))

    def test_silent_run_on_an_infected_machine(self):
        self.box.plant_worm(WINUPDATE, SIGNATURES[0])
        self.box.plant_worm(PQONWE, SIGNATURES[1])
        res, lines = self.run_tool("/SILENT")
        self.assertEqual(res.code, 0)
        for message in (FOUND, NOTHING, FAILED, "Restarting"):
            self.assertNotIn(message.strip(), res.stdout)
        self.assertFalse(self.box.exists(WINUPDATE))
        self.assertFalse(self.box.exists(PQONWE))
        self.assertEqual(lines[-1], "Exiting, return value 0")
        self.assertFalse(any(line.startswith(("Infections were", "Restarting")) for line in lines), lines)


class StartupValues(RemovalCase):
    def setUp(self):
        super().setUp()
        # A fresh server start would run and clear the RunOnce entries.
        self.box.keep_server()

    def test_only_the_two_start_up_values_are_deleted(self):
        # The data names a program that does not exist.
        data = "C:\\windows\\system32\\no-such-worm.exe"
        for root in ("HKLM", "HKCU"):
            for key in (RUN, RUNONCE):
                self.box.reg_add(f"{root}\\{key}", "windowsupdate", data)
        self.box.reg_add(f"HKLM\\{RUN}", "neighbour", data)
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertTrue(res.stdout.endswith(NOTHING), res.stdout)
        statuses = run_statuses(0) + [value_status(RUNONCE, 0)]
        self.assertEqual(self.own(lines)[-len(statuses):], statuses)
        self.assertIsNone(self.box.reg_query(f"HKLM\\{RUN}", "windowsupdate"))
        self.assertIsNone(self.box.reg_query(f"HKCU\\{RUNONCE}", "windowsupdate"))
        self.assertEqual(self.box.reg_query(f"HKCU\\{RUN}", "windowsupdate"), data)
        self.assertEqual(self.box.reg_query(f"HKLM\\{RUNONCE}", "windowsupdate"), data)
        self.assertEqual(self.box.reg_query(f"HKLM\\{RUN}", "neighbour"), data)

        # Once gone, each is reported as a failed deletion; a RunOnce key
        # that exists without the value as well.
        res, lines = self.run_tool()
        statuses = run_statuses(2) + [value_status(RUNONCE, 2)]
        self.assertEqual(self.own(lines)[-len(statuses):], statuses)


class SystemIni(RemovalCase):
    def test_shell_line_is_repaired_after_a_backup(self):
        worm_line = "explorer.exe winupdate.exe"
        long_line = "explorer.exe " + "w" * 290 + ".exe"
        head = "[386Enh]\r\nwoafont=dosapp.fon\r\n"
        tail = "system.drv=system.drv\r\n[mci]\r\ncdaudio=mcicda.drv\r\n"
        template = self.box.read_file(SYSTEM_INI).decode("latin-1")
        cases = [
            # what, system.ini before, after, value traced
            ("worm shell line", f"{head}[Boot]\r\nShell={worm_line}\r\n{tail}",
             f"{head}[Boot]\r\nShell=explorer.exe\r\n{tail}", worm_line),
            ("letter case of the names", f"[boot]\r\nshell={worm_line}\r\n", "[boot]\r\nshell=explorer.exe\r\n",
             worm_line),
            ("already explorer.exe", f"{head}[Boot]\r\nShell=explorer.exe\r\n{tail}",
             f"{head}[Boot]\r\nShell=explorer.exe\r\n{tail}", "explorer.exe"),
            # Only the first 259 characters fit the buffer.
            ("shell line of 307 characters", f"[Boot]\r\nShell={long_line}\r\n", "[Boot]\r\nShell=explorer.exe\r\n",
             long_line[:259]),
            ("no Boot section", template, template, None),
            ("no Shell key", f"{head}[Boot]\r\n{tail}", f"{head}[Boot]\r\n{tail}", None),
            ("empty Shell value", f"[Boot]\r\nShell=\r\n{tail}", f"[Boot]\r\nShell=\r\n{tail}", None),
        ]
        # Every run replaces the backup the run before left.
        for what, before, after, traced in cases:
            with self.subTest(what):
                self.box.write_file(SYSTEM_INI, before)
                res, lines = self.run_tool()
                self.assertEqual(res.code, 0)
                self.assertTrue(res.stdout.endswith(NOTHING), res.stdout)
                self.assertEqual(self.box.read_file(SYSTEM_INI).decode("latin-1"), after)
                self.assertEqual(self.box.read_file(SYSTEM_BAK).decode("latin-1"), before)
                expected = [] if traced is None else [f"system.ini boot.shell={traced}, updating"]
                self.assertEqual([l for l in self.own(lines) if l.startswith("system.ini")], expected)
                self.assertFalse(any(l.startswith("cannot make") for l in lines))

    def test_missing_system_ini_counts_one_error(self):
        os.remove(self.box.host_path(SYSTEM_INI))
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertTrue(res.stdout.endswith(NOTHING), res.stdout)
        self.assertIn("cannot make win.ini backup copy error =2", lines)
        self.assertFalse(self.box.exists(SYSTEM_INI))
        self.assertFalse(self.box.exists(SYSTEM_BAK))

        # With a worm copy found, the same error makes the run a failure.
        self.box.plant_worm(WINUPDATE)
        res, lines = self.run_tool()
        self.assertEqual(res.code, 3)
        self.assertTrue(res.stdout.endswith(FAILED), res.stdout)
        self.assertFalse(self.box.exists(WINUPDATE))

    def test_section_mapped_to_the_registry_on_nt(self):
        # As on the NT family: the Boot section's Shell key lives in Winlogon.
        self.box.reg_add("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\system.ini\\boot",
                         "Shell", "SYS:Microsoft\\Windows NT\\CurrentVersion\\Winlogon")
        self.box.reg_add(WINLOGON, "Shell", "explorer.exe winupdate.exe")
        file_content = "[Boot]\r\nShell=fromfile.exe\r\n"
        self.box.write_file(SYSTEM_INI, file_content)
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertIn("system.ini boot.shell=explorer.exe winupdate.exe, updating", lines)
        self.assertEqual(self.box.reg_query(WINLOGON, "Shell"), "explorer.exe")
        self.assertEqual(self.box.read_file(SYSTEM_INI).decode("latin-1"), file_content)
        self.assertEqual(self.box.read_file(SYSTEM_BAK).decode("latin-1"), file_content)


if __name__ == "__main__":
    unittest.main()
