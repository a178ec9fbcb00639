"""Worm copies that try to escape the process walk, as an unprivileged user
could make them: started under a device's name, from a share, renamed while
they run, closed to every access, holding their own file, refusing to be
running twice from one file. (One that cannot be ended is an error: see
test_reboot and test_restart_safety.) Each is found and ended, or the run
says that its check could not be completed; none ends in "No infection
found"."""

import re

from messages import (CANNOT_CHECK, FOUND_IN_MEMORY, NOT_COMPLETED, NOT_IN_MEMORY, PID, REMOVED, REPORT_NOT_COMPLETED,
                      banner_and_rest, exiting)
from sandbox import SandboxTestCase

NOT_EXAMINED = r"Process \(PID=0x[0-9a-f]+\) is not examined: "


class HiddenCopies(SandboxTestCase):
    def start_copy(self, started_as, how="ready", planted_at=None):
        """Plants a worm stand-in at planted_at (started_as itself by
        default), starts it as started_as and waits until it has made itself
        as hard to find as `how` says."""
        self.box.plant_worm(planted_at or started_as)
        self.box.keep_server()
        return self.box.start(started_as, "600000", how, ready="ready")

    def run_both(self, *args):
        """A report run, then the removal run: each one's result and trace."""
        report = self.box.run_traced("/REPORT", *args)
        removal = self.box.run_traced(*args)
        return report, removal

    def assert_not_completed(self, report, removal, *trace_patterns):
        """Both runs say that the check could not be completed, and each trace
        tells why in lines that match trace_patterns."""
        (res, lines), (removal_res, removal_lines) = report, removal
        self.assertEqual(res.code, 5, res.stdout)
        self.assertTrue(res.stdout.endswith(REPORT_NOT_COMPLETED), res.stdout)
        self.assertEqual(removal_res.code, 5, removal_res.stdout)
        self.assertEqual(banner_and_rest(self, removal_res.stdout), NOT_IN_MEMORY + NOT_COMPLETED)
        self.assertIn(exiting(5), removal_lines)
        for pattern in trace_patterns:
            for run_lines in (lines, removal_lines):
                self.assertTrue([line for line in run_lines if re.search(pattern, line)],
                                f"{pattern} missing:\n" + "\n".join(run_lines))

    def test_device_names_do_not_redirect_the_check(self):
        names = ["nul.exe", "com1.exe", "AUX.exe"]
        copies = [self.start_copy("\\\\?\\C:\\Shared\\" + name, planted_at="C:\\Shared\\" + name) for name in names]
        (report, report_lines), (res, lines) = self.run_both()
        self.assertEqual(report.code, 4, report.stdout)
        self.assertEqual(res.code, 1, res.stdout)
        self.assertEqual(banner_and_rest(self, res.stdout), FOUND_IN_MEMORY + REMOVED)
        self.assertNotIn("seek failed", report.stdout + res.stdout)
        for name, copy in zip(names, copies):
            self.assertEqual(copy.wait(timeout=30), 0, name)
            self.assertFalse(self.box.exists("C:\\Shared\\" + name), name)
            self.assertIn(f'Deleting file "C:\\Shared\\{name}", result=1', lines)

    def test_copies_on_a_network_are_not_opened(self):
        # A share, and a network drive (the Wine drive type "network", which
        # its mount manager reads when the machine's server starts).
        self.box.add_drive("N", "network")
        self.box.stop()
        copies = [self.start_copy("\\\\host\\share\\w.exe"), self.start_copy("N:\\w2.exe")]
        report, removal = self.run_both()
        self.assert_not_completed(report, removal,
                                  re.escape("\\\\host\\share\\w.exe") + ".*it lies on a network share, which the tool does "
                                  "not open",
                                  re.escape("N:\\w2.exe") + ".*it lies on a network drive, which the tool does not open")
        for copy in copies:
            self.assertTrue(copy.running())

    def test_copy_that_renamed_its_own_file(self):
        # Wine maps the image under the name it was started by: where the
        # file went cannot be told here, so the check was not made.
        copy = self.start_copy("C:\\Shared\\mover.exe", "rename:C:\\Shared\\moved.exe")
        self.assertTrue(self.box.exists("C:\\Shared\\moved.exe"))
        report, removal = self.run_both()
        self.assert_not_completed(report, removal, re.escape(
            "C:\\Shared\\mover.exe") + ".*it is not where its program started from, and where it lies now cannot be "
            "told")
        self.assertTrue(copy.running())

    def test_process_that_denies_every_access(self):
        copy = self.start_copy("C:\\Shared\\closed.exe", "deny-all")
        report, removal = self.run_both()
        self.assert_not_completed(report, removal, NOT_EXAMINED + "it cannot be opened, error=5$")
        self.assertTrue(copy.running())

    def test_copy_that_holds_its_own_file_is_no_clean_result_under_quiet(self):
        self.start_copy("C:\\Shared\\holder.exe", "hold-file")
        for args, code in ((["/QUIET"], 5), (["/QUIET", "/REPORT"], 5), (["/QUIET", "/SILENT"], 0)):
            with self.subTest(args=args):
                res = self.box.run_program(*args)
                self.assertEqual((res.code, res.stdout), (code, ""))

    def test_every_copy_of_one_file_is_ended(self):
        path = "C:\\Shared\\twin.exe"
        first = self.start_copy(path)
        second = self.start_copy(path)
        res, lines = self.box.run_traced()
        self.assertEqual(first.wait(timeout=30), 0)
        self.assertEqual(second.wait(timeout=30), 0)
        self.assertIn(res.code, (1, 2), res.stdout)
        self.assertEqual(len([line for line in lines if re.fullmatch(re.escape(f"Process {path}") + PID +
                                                                      " is infection", line)]), 2)
        self.assertEqual(len([line for line in lines if line == f"Process {path} terminated with status 1"]), 2)
        self.assertEqual(len([line for line in lines if line.startswith(f'Deleting file "{path}"')]), 1)

    def test_walk_that_cannot_start_on_a_clean_machine(self):
        res, lines = self.box.run_traced(env={"WINEDLLOVERRIDES": "psapi=d;mscoree,mshtml="})
        self.assertEqual(res.code, 5, res.stdout)
        self.assertEqual(banner_and_rest(self, res.stdout), CANNOT_CHECK + NOT_COMPLETED)
        self.assertIn("The process walk could not start, no process was examined", lines)
