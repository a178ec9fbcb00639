"""The worm's dropped files, its start-up values and its system.ini shell
line, removed by real runs of the program, from recognition to exit code."""

import os
import unittest

from messages import (BANNER_FIRST, FAILED, NOT_IN_MEMORY, NOTHING, REMOVED, REPLACE, TRACE_REMOVED, after_banner,
                      deleted, exiting, not_infected, value_status)
from places import (PQONWE, RUN, RUNONCE, SYSTEM_BAK, SYSTEM_INI, VALUE_NAME, WINLOGON, WINUPDATE, WORM_SHELL,
                    WOW64_DIR)
from sandbox import ARCH, SIGNATURES, TEST_BIN, SandboxTestCase, wormify

# Lines of the steps under test; other steps may trace in between.
OWN_LINES = ("file ", "Deleting file ", REPLACE, "[QRTK - FileExist]", "Value ", "Cannot open key ",
             "system.ini boot.shell=", "cannot make win.ini backup copy")


def idle_program():
    with open(os.path.join(TEST_BIN, "idle_program.exe"), "rb") as f:
        return f.read()


def deletion(path):
    """Every line of a dropped file's deletion."""
    return [f"{REPLACE}Delete operation ({path}).",
            f"[QRTK - FileExist]: File {path} exists.",
            f"{REPLACE}Src file exists ({path}).",
            f"{REPLACE}File was deleted ({path}).",
            deleted(path)]


# The 64-bit program also looks in the 32-bit system folder and in the 32-bit
# registry view, after the native places: HKLM's Run key has a 32-bit view of
# its own, HKCU's RunOnce key is shared by both views.
def wow64_not_infected():
    if ARCH != "x64":
        return []
    return [not_infected(WOW64_DIR + "\\winupdate.exe"), not_infected(WOW64_DIR + "\\pqonwe.exe")]


def run_statuses(native, wow64=2, nine_x=False):
    # Wine shows a program of the 9x family one registry view only.
    views = ARCH == "x64" and not nine_x
    return [value_status(RUN, native)] + ([value_status(RUN, wow64)] if views else [])


class RemovalCase(SandboxTestCase):
    def setUp(self):
        super().setUp()
        if ARCH == "x64":
            # The 32-bit view's own Run key, as every 64-bit Windows has it; a
            # 64-bit prefix made where no 32-bit code runs lacks it.
            self.box.wine("reg", "add", "HKLM\\" + RUN, "/f", "/reg:32")

    def run_tool(self, *args, **kwargs):
        """Runs the program; returns its result and the trace lines of this run."""
        res, lines = self.box.run_traced(*args, **kwargs)
        self.assertTrue(res.stdout.startswith(BANNER_FIRST), res.stdout)
        self.assertEqual(lines[-1], exiting(res.code))
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
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + REMOVED)
        self.assertFalse(self.box.exists(WINUPDATE))
        self.assertFalse(self.box.exists(PQONWE))
        self.assertEqual(self.own(lines),
                         deletion(WINUPDATE) + deletion(PQONWE) + wow64_not_infected() +
                         self.clean_registry_lines(nine_x))
        self.assertEqual(lines[-2], TRACE_REMOVED)

    def test_both_dropped_files_are_removed(self):
        self.check_both_removed()

    def test_both_dropped_files_are_removed_on_9x(self):
        self.box.see_win98()
        self.check_both_removed(nine_x=True)

    def test_clean_machine(self):
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + NOTHING)
        self.assertEqual(self.own(lines), [not_infected(WINUPDATE), not_infected(PQONWE)] + wow64_not_infected() +
                         self.clean_registry_lines())

    def test_only_worm_content_counts(self):
        worm = wormify.force_crc(idle_program(), SIGNATURES[0])
        exact = wormify.force_crc(bytes(range(256)) * 32, SIGNATURES[1])
        self.assertEqual(len(exact), 8192)
        cases = [
            # what, winupdate.exe, pqonwe.exe, exit code, console, removed
            ("same name, other content; short copy", idle_program(), worm[:8191], 0, NOTHING, set()),
            ("signature over exactly 8192 bytes", idle_program(), exact, 1, REMOVED, {PQONWE}),
            ("signature, then other bytes", worm[:8192] + b"\0" * 100, None, 1, REMOVED, {WINUPDATE}),
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
                self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + console)
                self.assertEqual(self.own(lines),
                                 [line for path in (WINUPDATE, PQONWE)
                                  for line in (deletion(path) if path in removed else [not_infected(path)])] +
                                 wow64_not_infected() + self.clean_registry_lines())
                for path in (WINUPDATE, PQONWE):
                    if path in removed:
                        self.assertFalse(self.box.exists(path))
                    elif path in content:
                        self.assertEqual(self.box.read_file(path), content[path])
                        os.remove(self.box.host_path(path))

    def test_silent_run_on_an_infected_machine(self):
        self.box.plant_worm(WINUPDATE, SIGNATURES[0])
        self.box.plant_worm(PQONWE, SIGNATURES[1])
        res, lines = self.run_tool("/SILENT")
        self.assertEqual(res.code, 0)
        for message in (REMOVED, NOTHING, FAILED, "Restarting"):
            self.assertNotIn(message.strip(), res.stdout)
        self.assertFalse(self.box.exists(WINUPDATE))
        self.assertFalse(self.box.exists(PQONWE))
        self.assertEqual(lines[-1], exiting(0))
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
                self.box.reg_add(f"{root}\\{key}", VALUE_NAME, data)
        self.box.reg_add(f"HKLM\\{RUN}", "neighbour", data)
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + NOTHING)
        no_files = [not_infected(WINUPDATE), not_infected(PQONWE)] + wow64_not_infected()
        self.assertEqual(self.own(lines), no_files + run_statuses(0) + [value_status(RUNONCE, 0)])
        self.assertIsNone(self.box.reg_query(f"HKLM\\{RUN}", VALUE_NAME))
        self.assertIsNone(self.box.reg_query(f"HKCU\\{RUNONCE}", VALUE_NAME))
        self.assertEqual(self.box.reg_query(f"HKCU\\{RUN}", VALUE_NAME), data)
        self.assertEqual(self.box.reg_query(f"HKLM\\{RUNONCE}", VALUE_NAME), data)
        self.assertEqual(self.box.reg_query(f"HKLM\\{RUN}", "neighbour"), data)

        # Once gone, each is reported as a failed deletion; a RunOnce key
        # that exists without the value as well.
        res, lines = self.run_tool()
        self.assertEqual(self.own(lines), no_files + run_statuses(2) + [value_status(RUNONCE, 2)])


class SystemIni(RemovalCase):
    def test_shell_line_is_repaired_after_a_backup(self):
        worm_line = WORM_SHELL
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
                self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + NOTHING)
                self.assertEqual(self.box.read_file(SYSTEM_INI).decode("latin-1"), after)
                self.assertEqual(self.box.read_file(SYSTEM_BAK).decode("latin-1"), before)
                expected = [] if traced is None else [f"system.ini boot.shell={traced}, updating"]
                self.assertEqual([l for l in self.own(lines) if l.startswith("system.ini")], expected)
                self.assertFalse(any(l.startswith("cannot make") for l in lines))

    def test_missing_system_ini_counts_one_error(self):
        os.remove(self.box.host_path(SYSTEM_INI))
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + NOTHING)
        self.assertIn("cannot make win.ini backup copy error =2", lines)
        self.assertFalse(self.box.exists(SYSTEM_INI))
        self.assertFalse(self.box.exists(SYSTEM_BAK))

        # With a worm copy found, the same error makes the run a failure.
        self.box.plant_worm(WINUPDATE)
        res, lines = self.run_tool()
        self.assertEqual(res.code, 3)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + FAILED)
        self.assertFalse(self.box.exists(WINUPDATE))

    def test_section_mapped_to_the_registry_on_nt(self):
        # As on the NT family: the Boot section's Shell key lives in Winlogon.
        self.box.reg_add("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\system.ini\\boot",
                         "Shell", "SYS:Microsoft\\Windows NT\\CurrentVersion\\Winlogon")
        self.box.reg_add(WINLOGON, "Shell", WORM_SHELL)
        file_content = "[Boot]\r\nShell=fromfile.exe\r\n"
        self.box.write_file(SYSTEM_INI, file_content)
        res, lines = self.run_tool()
        self.assertEqual(res.code, 0)
        self.assertIn(f"system.ini boot.shell={WORM_SHELL}, updating", lines)
        self.assertEqual(self.box.reg_query(WINLOGON, "Shell"), "explorer.exe")
        self.assertEqual(self.box.read_file(SYSTEM_INI).decode("latin-1"), file_content)
        self.assertEqual(self.box.read_file(SYSTEM_BAK).decode("latin-1"), file_content)


if __name__ == "__main__":
    unittest.main()
