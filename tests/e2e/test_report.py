"""The report-only run (/REPORT) and the run without console output (/QUIET):
what they say, the exit codes they give, and a machine left exactly as it
was."""

import os
import re
import unittest

import demo
import standin
from fault_machines import file_state, obey_file_permissions, set_key_dacl
from messages import (CLEAN, NOT_COMPLETED, NOT_IN_MEMORY, NOTICE, OUTCOMES, REFUSED, REPORT_NOT_COMPLETED, REPORT_TAG,
                      VERSION, VERSION_LINE, banner_and_rest, exiting)
from places import (DROPPED, LOG, PQONWE, RUN_KEY, RUN_KEYS, SYSTEM_BAK, VALUE_NAME, WINUPDATE, WORM_COPY, WORM_SHELL,
                    WOW64_DIR, long_key, subkey)
from reboot_machines import Sandbox64TestCase, only_in_suite
from sandbox import SEAM_PROGRAM, SIGNATURES, SandboxTestCase

def report_body(test, stdout):
    """The console after the report's banner, whose notice line is its own."""
    rest = banner_and_rest(test, stdout)
    test.assertEqual(stdout.split("\n")[1] + "\n", NOTICE)
    return rest


def without_log(box, state):
    return {path: info for path, info in state.items() if path != os.path.relpath(box.host_path(LOG), box.drive_c)}


class InfectedMachine(SandboxTestCase):
    """The demo's whole infection: a running worm copy, both dropped files
    (one held open), both start-up values and the system.ini shell line."""

    def infect(self):
        self.infection = demo.infect(self.box)
        self.worm = self.infection.processes[0]

    def expected_findings(self, process_path):
        return [
            re.escape(f"Report: worm process running: {process_path} (PID=0x") + "[0-9a-f]+" + re.escape("), left running"),
            *[re.escape(f"Report: worm file: {path}, left in place") for path in DROPPED],
            re.escape(f"Report: system.ini shell line: shell={WORM_SHELL}, left as it is"),
            *[re.escape(f"Report: start-up value: {long_key(key)}\\{VALUE_NAME} = {DROPPED[0]}, left in place")
              for key in RUN_KEYS],
        ]

    def check_report(self, nine_x, process_path):
        before = demo.machine_state(self.box, self.infection)
        files_before = without_log(self.box, file_state(self.box))
        log_start = self.box.trace_mark()

        code, console = demo.run_tool(self.box, nine_x, "/REPORT", echo=False)
        self.assertEqual(code, 4, console)
        lines = report_body(self, console).splitlines()
        self.assertEqual(len(lines), 7, console)
        for line, pattern in zip(lines, self.expected_findings(process_path)):
            self.assertRegex(line, "^" + pattern + "$")
        self.assertEqual(lines[-1], "Report: Infection was found: 6 item(s) listed above, 3 of them start-up entries "
                                    "that a removal run repairs. Nothing was changed.")

        self.assertEqual(demo.changes(before, demo.machine_state(self.box, self.infection)), [])
        self.assertEqual(without_log(self.box, file_state(self.box)), files_before)
        self.assertTrue(self.worm.running(), "the worm copy was ended")

        # Every line of the run is a report's own: none of a removal run's.
        trace = self.box.trace_since(log_start)
        self.assertEqual(trace[0], VERSION_LINE)
        self.assertEqual(trace[-1], exiting(4))
        for line in trace[1:-1]:
            self.assertTrue(line.startswith(REPORT_TAG), line)
        for line in lines:
            self.assertIn(REPORT_TAG + line[len("Report: "):], trace)

    def test_nt_family_reported_and_left_as_it_was(self):
        standin.install_driver(self.box)
        self.addCleanup(standin.remove_driver, self.box)
        self.infect()
        standin.requests(self.box)
        self.check_report(False, demo.WORM_COPY)

        res = self.box.run_program("/QUIET", "/REPORT")
        self.assertEqual((res.code, res.stdout), (4, ""))
        self.assertEqual(standin.requests(self.box), [], "the report talked to the scanner")

        # The same machine cleaned without console output: the true exit
        # code, and the stand-in scanner did see the removal run.
        res = self.box.run_program("/QUIET")
        self.assertEqual((res.code, res.stdout), (2, ""))
        self.assertEqual(self.box.log_lines()[-2], exiting(2))
        self.assertNotEqual(standin.requests(self.box), [])
        self.assertEqual(self.worm.wait(timeout=30), 0)

    def test_9x_family_reported_and_left_as_it_was(self):
        self.infect()
        # Wine's toolhelp names the running copy by its file name alone.
        self.check_report(True, os.path.basename(demo.WORM_COPY.replace("\\", "/")))


class CleanMachine(SandboxTestCase):
    def test_switches_on_a_clean_machine(self):
        files_before = without_log(self.box, file_state(self.box))
        cases = [
            # switches, exit code, console after the banner (None: nothing at all; refused: before the usage)
            (["/REPORT"], 0, CLEAN),
            (["/report", "/SILENT"], 0, ""),
            (["/Quiet", "/REPORT"], 0, None),
            # Switches misspelt: refused, neither a report nor a removal.
            (["/QUIETX", "/REPORTX"], REFUSED, 'Unknown argument "/QUIETX": nothing was done.\n\n'),
            # Removal runs, after the reports: they write system.bak.
            (["/QUIET"], 0, None),
            (["/QUIET", "/SILENT"], 0, None),
        ]
        for args, code, console in cases:
            if args == ["/QUIET"]:
                self.assertEqual(without_log(self.box, file_state(self.box)), files_before)
                self.assertFalse(self.box.exists(SYSTEM_BAK))
            with self.subTest(args=args):
                res, trace = self.box.run_traced(*args)
                self.assertEqual(res.code, code)
                if code == REFUSED:
                    self.assertTrue(res.stdout.startswith(console + "Usage: "), res.stdout)
                elif console is None:
                    self.assertEqual(res.stdout, "")
                else:
                    self.assertEqual(banner_and_rest(self, res.stdout), console)
                self.assertEqual(trace[0], VERSION_LINE)
                self.assertEqual(trace[-1], exiting(code))
                # A report's summary is traced in silent mode too.
                if "/REPORT" in (arg.upper() for arg in args):
                    self.assertEqual(trace[-2], REPORT_TAG + CLEAN[len("Report: "):-1])

    def test_version_switch_still_prints(self):
        res = self.box.run_program("/QUIET", "/VER")
        self.assertEqual((res.code, res.stdout), (0, VERSION))


class QuietOutcomes(SandboxTestCase):
    """The removal run's outcome table with /QUIET: the same exit codes and
    trace, and no console output at all."""

    def test_outcome_table(self):
        for preset, args, code, _, trace in OUTCOMES:
            with self.subTest(preset=preset, args=args):
                res, lines = self.box.run_traced("/QUIET", *args, program=SEAM_PROGRAM,
                                                 env={"RAVLOKFIX_TEST_OUTCOME": preset})
                self.assertEqual((res.code, res.stdout), (code, ""))
                self.assertEqual(lines[0], VERSION_LINE)
                self.assertEqual(lines[len(lines) - 1 - len(trace):], trace + [exiting(code)])

    def test_refused_user(self):
        for args, code in ((["/QUIET"], 0), (["/QUIET", "/REPORT"], 5)):
            with self.subTest(args=args):
                res = self.box.run_program(*args, program=SEAM_PROGRAM, env={"RAVLOKFIX_TEST_PROBES": "admin=0"})
                self.assertEqual((res.code, res.stdout), (code, ""))


class UncheckedReport(SandboxTestCase):
    """Checks that cannot be made give 5 with the reason in the trace; an
    infection found elsewhere still gives 4."""

    def report(self, *args, **kwargs):
        res, trace = self.box.run_traced("/REPORT", *args, **kwargs)
        self.assertEqual(trace[0], VERSION_LINE)
        return res, trace

    def test_not_an_administrator(self):
        probes = {"RAVLOKFIX_TEST_PROBES": "admin=0"}
        self.box.plant_worm(WINUPDATE)
        res, trace = self.report(program=SEAM_PROGRAM, env=probes)
        self.assertEqual(res.code, 5)
        self.assertEqual(banner_and_rest(self, res.stdout),
                         "Report: The check could not be completed: log on to this workstation with administrator "
                         "rights and run the tool again.\n")
        self.assertEqual(trace, [VERSION_LINE,
                                 REPORT_TAG + "Not an administrator: other users' processes cannot be read. "
                                       "Nothing was checked.",
                                 exiting(5)])
        res, _ = self.report("/SILENT", program=SEAM_PROGRAM, env=probes)
        self.assertEqual((res.code, banner_and_rest(self, res.stdout)), (0, ""))

    def test_process_list_unreadable(self):
        no_walk = {"WINEDLLOVERRIDES": "psapi=d;mscoree,mshtml="}
        res, trace = self.report(env=no_walk)
        self.assertEqual((res.code, banner_and_rest(self, res.stdout)), (5, REPORT_NOT_COMPLETED))
        self.assertIn(REPORT_TAG + "The process list cannot be read: running copies were not checked.", trace)

        self.box.plant_worm(WINUPDATE)
        res, _ = self.report(env=no_walk)
        self.assertEqual(res.code, 4)
        self.assertTrue(banner_and_rest(self, res.stdout).endswith(
            "\nReport: Infection was found: 1 item(s) listed above. Nothing was changed. Some checks could not be "
            "made: see the trace log.\n"), res.stdout)

    def test_dropped_file_unreadable(self):
        unreadable = self.box.plant_worm(PQONWE, SIGNATURES[1])
        os.chmod(unreadable, 0)
        obey_file_permissions(self.box)
        res, trace = self.report()
        self.assertEqual((res.code, banner_and_rest(self, res.stdout)), (5, REPORT_NOT_COMPLETED))
        self.assertIn(REPORT_TAG + f"File {PQONWE} cannot be read (error 5): it was not checked.", trace)
        self.assertIn(REPORT_TAG + f"File {WINUPDATE} is absent.", trace)

    def test_running_program_unreadable(self):
        # A copy whose file can no longer be read once it runs: neither run
        # may call the machine clean.
        obey_file_permissions(self.box)
        path = self.box.plant_worm(WORM_COPY)
        worm = self.box.start_program(WORM_COPY)
        os.chmod(path, 0)
        res, trace = self.report()
        self.assertEqual((res.code, banner_and_rest(self, res.stdout)), (5, REPORT_NOT_COMPLETED))
        self.assertTrue([line for line in trace if line.startswith(REPORT_TAG + f"Process {WORM_COPY} (PID=0x")
                         and line.endswith(") cannot be checked (error 5): its program file cannot be read.")],
                        trace)

        res = self.box.run_program()
        self.assertEqual(res.code, 5, res.stdout)
        self.assertEqual(banner_and_rest(self, res.stdout), NOT_IN_MEMORY + NOT_COMPLETED)
        self.assertIn(f"Cannot open file {WORM_COPY} for the signature check, error=5", self.box.log_lines())
        self.assertTrue(worm.running())

    def test_dropped_file_that_is_a_directory(self):
        self.box.write_file(WINUPDATE + "\\inside.txt", b"kept")
        res, trace = self.report()
        self.assertEqual((res.code, banner_and_rest(self, res.stdout)), (0, CLEAN))
        self.assertIn(REPORT_TAG + f"File {WINUPDATE} is not the worm.", trace)

    def test_start_up_key_unreadable(self):
        self.box.keep_server()
        self.box.reg_add(RUN_KEY, VALUE_NAME, WINUPDATE)
        # Everyone may write the key, nobody may read it.
        set_key_dacl(self.box, "MACHINE\\" + subkey(RUN_KEY), "D:P(A;;KW;;;WD)")
        res, trace = self.report()
        self.assertEqual((res.code, banner_and_rest(self, res.stdout)), (5, REPORT_NOT_COMPLETED))
        self.assertIn(REPORT_TAG + f"Cannot open key {long_key(RUN_KEY)} 0x5: value {VALUE_NAME} was not checked.", trace)


@only_in_suite("x64", "the 64-bit program on a 64-bit machine")
class Wow64Footprint(Sandbox64TestCase):
    """The worm's 32-bit files and values, reported by the 64-bit program as
    the removal would find them."""

    def test_32_bit_places_are_reported(self):
        wow64_copy = WOW64_DIR + "\\winupdate.exe"
        self.box.plant_worm(wow64_copy)
        self.box.reg_add(RUN_KEY, VALUE_NAME, wow64_copy, view=32)
        before = without_log(self.box, file_state(self.box))
        res = self.box.run_program("/REPORT")
        self.assertEqual(res.code, 4, res.stdout)
        body = report_body(self, res.stdout)
        self.assertIn(f"Report: worm file: {wow64_copy}, left in place\n", body)
        self.assertIn(f"Report: start-up value: {long_key(RUN_KEY)}\\{VALUE_NAME} = {wow64_copy}, left in place\n",
                      body)
        self.assertTrue(body.endswith("\nReport: Infection was found: 2 item(s) listed above, 1 of them start-up "
                                      "entries that a removal run repairs. Nothing was changed.\n"), body)
        self.assertEqual(without_log(self.box, file_state(self.box)), before)
        self.assertEqual(self.box.reg_query(RUN_KEY, VALUE_NAME, view=32), wow64_copy)


if __name__ == "__main__":
    unittest.main()
