"""The command line, the administrator gate and the outcome of a run, through
the real entry point."""

import os
import re
import unittest

import standin
from fault_machines import file_state
from infection import Infection
from messages import (BANNER_FIRST, DISINFECT, INTERRUPTED, LOGON, NOT_IN_MEMORY, NOTHING, OUTCOMES, REFUSED, REMOVED,
                      VERSION, VERSION_LINE, banner_and_rest, exiting, refusal)
from places import LOG, RUN_KEY, RUNONCE_KEY, SYSTEM_BAK, SYSTEM_INI, VALUE_NAME, WINUPDATE, WORM_COPY
from sandbox import PROGRAM, SEAM_PROGRAM, TEST_BIN, SandboxTestCase, whole_exit_code

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def usage_text(test, box):
    """The usage text as /? prints it after the banner's first line."""
    res = box.run_program("/?")
    test.assertEqual(res.code, 0, res.stdout)
    test.assertTrue(res.stdout.startswith(BANNER_FIRST + "\n"), res.stdout)
    usage = res.stdout[len(BANNER_FIRST) + 1:]
    test.assertTrue(usage.startswith("Usage: Ravlokfix.exe "), usage)
    return usage


class Switches(SandboxTestCase):
    def test_version_switch_ends_the_run_before_the_log(self):
        for args in (["/VER"], ["/ver"], ["/Ver"], ["/SILENT", "/VER"], ["x", "/VER"], ["/VER", "/SILENT"],
                     ["/?", "/VER"], ["/VER", "/REPROT"]):
            with self.subTest(args=args):
                res = self.box.run_program(*args)
                self.assertEqual(res.code, 0)
                self.assertEqual(res.stdout, VERSION)
                self.assertIsNone(self.box.log_text())

    def test_help_prints_the_usage_before_the_log(self):
        usage = usage_text(self, self.box)
        for args in (["/?"], ["/QUIET", "/?"], ["/SILENT", "/?"], ["/REPORT", "/?"], ["/?", "/REPROT"]):
            with self.subTest(args=args):
                res = self.box.run_program(*args)
                self.assertEqual((res.code, res.stdout), (0, BANNER_FIRST + "\n" + usage))
        self.assertIsNone(self.box.log_text())

    def test_silent_in_any_case_suppresses_only_the_outcome(self):
        for arg in ("/SILENT", "/silent", "/Silent"):
            with self.subTest(arg=arg):
                res = self.box.run_program(arg)
                self.assertEqual(res.code, 0)
                rest = banner_and_rest(self, res.stdout)
                self.assertNotIn(NOTHING.strip(), rest)
                self.assertEqual(self.box.log_lines()[-2], exiting(0))


class CleanMachine(SandboxTestCase):
    def check_clean_run(self):
        res = self.box.run_program()
        self.assertEqual(res.code, 0)
        self.assertEqual(banner_and_rest(self, res.stdout), NOT_IN_MEMORY + NOTHING)
        lines = self.box.log_lines()
        self.assertEqual(lines[0], VERSION_LINE)
        self.assertIn(DISINFECT, lines)
        self.assertEqual(lines[-2:], [exiting(0), ""])
        return lines

    def test_clean_run_nt(self):
        self.check_clean_run()

    def test_clean_run_9x(self):
        self.box.see_win98()
        self.check_clean_run()

    def test_log_is_appended_to_on_every_run(self):
        first = self.check_clean_run()[:-1]
        self.box.run_program()
        both = self.box.log_lines()
        self.assertEqual(both[: len(first)], first)
        # The process walk lists whatever runs at the time: ids and the
        # system's own programs differ from one run to the next.
        stable = lambda lines: [line for line in lines if not line.startswith("examinate process ")]
        self.assertEqual(stable(both[len(first):-1]), stable(first))


class AdministratorGate(SandboxTestCase):
    def test_nt_user_outside_administrators_is_refused(self):
        res = self.box.run_program(program=SEAM_PROGRAM, env={"RAVLOKFIX_TEST_PROBES": "admin=0"})
        self.assertEqual(res.code, 0)
        self.assertEqual(banner_and_rest(self, res.stdout), LOGON)
        self.assertEqual(self.box.log_lines(), [VERSION_LINE, ""])

    def test_refusal_is_silent_with_silent_switch(self):
        res = self.box.run_program("/SILENT", program=SEAM_PROGRAM, env={"RAVLOKFIX_TEST_PROBES": "admin=0"})
        self.assertEqual(res.code, 0)
        self.assertEqual(banner_and_rest(self, res.stdout), "")

    def test_group_kept_for_deny_only(self):
        # The real program under a real restricted token (CreateRestrictedToken
        # with the group among the SIDs to disable), as a token that UAC
        # filtered: the Administrators group is still listed, for deny-only
        # use, and grants nothing. Another deny-only group leaves the run be.
        cases = [
            # group kept for deny-only use, exit code, console after the banner, the dropped file left
            ("S-1-5-32-544", 0, LOGON, True),  # Administrators
            ("S-1-5-32-545", 1, NOT_IN_MEMORY + REMOVED, False),  # Users
        ]
        for group, code, console, left in cases:
            with self.subTest(group=group):
                self.box.plant_worm(WINUPDATE)
                res, lines = self.box.run_traced(os.path.join(TEST_BIN, "exit_status.exe"), "--deny-only", group,
                                                 PROGRAM, run=self.box.wine, check=False)
                self.assertEqual(res.code, 0, res.stdout)
                printed, status = whole_exit_code(res.stdout)
                self.assertEqual(status, code)
                self.assertEqual(banner_and_rest(self, printed), console)
                self.assertEqual(self.box.exists(WINUPDATE), left)
                if left:
                    self.assertEqual(lines, [VERSION_LINE])

    def test_9x_family_has_no_gate(self):
        res = self.box.run_program(program=SEAM_PROGRAM, env={"RAVLOKFIX_TEST_PROBES": "nt=0,kind=1,admin=0"})
        self.assertEqual(res.code, 0)
        self.assertEqual(banner_and_rest(self, res.stdout), NOT_IN_MEMORY + NOTHING)


class OutcomeTable(SandboxTestCase):
    """Outcome values preset as the sequence would leave them."""

    def test_outcome_table(self):
        for preset, args, code, console, trace in OUTCOMES:
            with self.subTest(preset=preset, args=args):
                res, lines = self.box.run_traced(*args, program=SEAM_PROGRAM, env={"RAVLOKFIX_TEST_OUTCOME": preset})
                self.assertEqual(res.code, code)
                self.assertEqual(banner_and_rest(self, res.stdout), console)
                exit_at = lines.index(exiting(code))
                self.assertEqual(lines[exit_at - len(trace):exit_at], trace)
                if not trace:
                    self.assertFalse(any("Infections were" in l or "Restarting" in l for l in lines))


class RefusedArguments(SandboxTestCase):
    """An argument that is no switch ends the run before it changes anything:
    a typo must not start a removal. The machine is infected, with the
    scanner's stand-in driver recording every request."""

    CASES = [
        # arguments, the first refused one as the refusal shows it (its first
        # 40 characters, control characters as "?")
        (["/REPROT"], "/REPROT"),
        (["/SILENTX"], "/SILENTX"),
        (["-SILENT"], "-SILENT"),
        (["SILENT"], "SILENT"),
        (["/VERSION"], "/VERSION"),
        (["/?x"], "/?x"),
        ([""], ""),
        (["/REPORT", "report"], "report"),
        (["/SILENT", "/REPROT"], "/REPROT"),
        (["/QUIETX", "/REPORTX"], "/QUIETX"),
        (["a" * 30000], "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa..."),
        (["b" * 100] * 300, "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb..."),
        (["/silent" + "x" * 5000, "/VE" + "R" * 2000], "/silentxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx..."),
        (["x\r\nExiting, return value 0"], "x??Exiting, return value 0"),
        # No console output, the exit code all the same.
        (["/QUIET", "/reprot"], "/reprot"),
    ]

    def test_refused_with_the_usage_and_nothing_changed(self):
        usage = usage_text(self, self.box)
        infection = Infection(self.box, running=(WORM_COPY,))
        standin.install_driver(self.box)
        self.addCleanup(standin.remove_driver, self.box)
        standin.requests(self.box)
        log = os.path.relpath(self.box.host_path(LOG), self.box.drive_c)
        files = file_state(self.box)
        files.pop(log, None)

        for args, named in self.CASES:
            with self.subTest(args=args[:2]):
                res, lines = self.box.run_traced(*args)
                self.assertEqual(res.code, REFUSED)
                self.assertEqual(res.stdout, "" if "/QUIET" in args else refusal(named) + usage)
                self.assertEqual(lines, [VERSION_LINE,
                                         f'Command line refused: unknown argument "{named}". Nothing was done.',
                                         exiting(REFUSED)])

                after = file_state(self.box)
                after.pop(log)
                self.assertEqual(after, files)
                self.assertFalse(self.box.exists(SYSTEM_BAK))
                self.assertEqual(self.box.read_file(SYSTEM_INI).decode("latin-1"), infection.system_ini)
                for key in (RUN_KEY, RUNONCE_KEY):
                    self.assertIsNotNone(self.box.reg_query(key, VALUE_NAME), key)
                self.assertTrue(all(p.running() for p in infection.processes), "a worm copy was ended")
                self.assertEqual(standin.requests(self.box), [], "the scanner was switched")


class Documentation(SandboxTestCase):
    """README.md and the release's README.txt list exactly the switches and
    exit codes of the usage text that the program prints."""

    def read_source(self, name):
        with open(os.path.join(SOURCE, name), encoding="ascii") as f:
            return f.read()

    def test_readmes_name_the_switches_and_exit_codes_of_the_usage_text(self):
        usage = usage_text(self, self.box)
        synopsis = usage.split("\n", 1)[0][len("Usage: "):]
        switches = sorted(re.findall(r"\[(/[^\]]+)\]", synopsis))
        described = usage.split("\nSwitches", 1)[1].split("\n\n", 1)[0]
        self.assertEqual(sorted(re.findall(r"^  (/\S+) ", described, re.M)), switches)
        # Codes in decimal, or in hexadecimal as the system's status codes are written.
        code = r"(\d+|0x[0-9A-F]{8})"
        codes = sorted(int(c, 0) for c in re.findall(r"^  " + code + " ", usage.split("\nExit codes:\n", 1)[1], re.M))
        self.assertIn(REFUSED, codes)
        self.assertIn(INTERRUPTED, codes)

        readme = self.read_source("README.md")
        using = readme.split("\n## Using the tool\n", 1)[1].split("\n## ", 1)[0]
        self.assertIn("\n    " + synopsis + "\n", using)
        self.assertEqual(sorted(re.findall(r"^\| `(/[^`]+)` \|", using, re.M)), switches)
        tables = re.findall(r"^\| Exit code \|.*\n\|[-|]+\n((?:\|.*\n)+)", readme, re.M)
        self.assertEqual(len(tables), 2, "README.md's exit-code tables")
        for table in tables:
            self.assertEqual(sorted(int(c, 0) for c in re.findall(r"^\| " + code + r" \|", table, re.M)), codes)

        release = self.read_source(os.path.join("release", "README.txt"))
        using = release.split("\nUSING IT\n", 1)[1]
        using = using[:re.search(r"^[A-Z][A-Z ]+$", using, re.M).start()]
        self.assertIn("\n  " + synopsis + "\n", using)
        self.assertEqual(sorted(re.findall(r"^  (/\S+) ", using, re.M)), switches)
        self.assertEqual(sorted(int(c, 0) for c in re.findall(r"^  " + code + " ", using.split("\nExit codes:\n", 1)[1],
                                                              re.M)), codes)


if __name__ == "__main__":
    unittest.main()
