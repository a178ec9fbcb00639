"""The command line, the administrator gate and the outcome of a run, through
the real entry point."""

import unittest

from sandbox import PROGRAM, SEAM_PROGRAM, SandboxTestCase

VERSION = "Ravlokfix v1.00.1\n"
BANNER_FIRST = "W32/Ravlok.B Removal Tool ver 1.00.1\n"
LOGON = "Please log on to this workstation with administrator rights and\nrun the tool again."
RESTART = ("Restarting the computer is needed to complete the disinfection process.\n"
           "Please restart the computer now.\n")


def banner_and_rest(test, stdout):
    """Checks the banner (first line, one notice line, an empty line) and returns the rest."""
    test.assertTrue(stdout.startswith(BANNER_FIRST), stdout)
    lines = stdout[len(BANNER_FIRST):].split("\n", 2)
    test.assertTrue(lines[0], "the notice line is missing")
    test.assertEqual(lines[1], "")
    return lines[2] if len(lines) > 2 else ""


class Switches(SandboxTestCase):
    def test_version_switch_ends_the_run_before_the_log(self):
        for args in (["/VER"], ["/ver"], ["/Ver"], ["/SILENT", "/VER"], ["x", "/VER"], ["/VER", "/SILENT"]):
            with self.subTest(args=args):
                res = self.box.run_program(*args)
                self.assertEqual(res.code, 0)
                self.assertEqual(res.stdout, VERSION)
                self.assertIsNone(self.box.log_text())

    def test_switches_are_compared_whole(self):
        for args in (["/SILENTX"], ["-SILENT"], ["SILENT"], ["/VERSION"], ["VER"]):
            with self.subTest(args=args):
                res = self.box.run_program(*args)
                self.assertEqual(res.code, 0)
                rest = banner_and_rest(self, res.stdout)
                self.assertTrue(rest.endswith("No infection found\n"), rest)

    def test_silent_in_any_case_suppresses_only_the_outcome(self):
        for arg in ("/SILENT", "/silent", "/Silent"):
            with self.subTest(arg=arg):
                res = self.box.run_program(arg)
                self.assertEqual(res.code, 0)
                rest = banner_and_rest(self, res.stdout)
                self.assertNotIn("No infection found", rest)
                self.assertEqual(self.box.log_lines()[-2], "Exiting, return value 0")


class CleanMachine(SandboxTestCase):
    def check_clean_run(self):
        res = self.box.run_program()
        self.assertEqual(res.code, 0)
        rest = banner_and_rest(self, res.stdout)
        self.assertTrue(rest.endswith("No infection found\n"), rest)
        lines = self.box.log_lines()
        self.assertEqual(lines[0], "Ravlokfix v1.00.1")
        self.assertIn("[QRTK - Disinfect_Ravlok]", lines)
        self.assertEqual(lines[-2:], ["Exiting, return value 0", ""])
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
        self.assertEqual(self.box.log_lines(), ["Ravlokfix v1.00.1", ""])

    def test_refusal_is_silent_with_silent_switch(self):
        res = self.box.run_program("/SILENT", program=SEAM_PROGRAM, env={"RAVLOKFIX_TEST_PROBES": "admin=0"})
        self.assertEqual(res.code, 0)
        self.assertEqual(banner_and_rest(self, res.stdout), "")

    def test_9x_family_has_no_gate(self):
        res = self.box.run_program(program=SEAM_PROGRAM, env={"RAVLOKFIX_TEST_PROBES": "nt=0,kind=1,admin=0"})
        self.assertEqual(res.code, 0)
        self.assertTrue(banner_and_rest(self, res.stdout).endswith("No infection found\n"))


class OutcomeTable(SandboxTestCase):
    """Outcome values preset as the sequence would leave them."""

    CASES = [
        # preset, args, exit code, console after the run, trace lines before the exit line
        ("", [], 0, "No infection found\n", []),
        ("errors=1", [], 0, "No infection found\n", []),
        ("infection=2", [], 1, "Infection was found and removed\n", ["Infections were found and removed."]),
        ("infection=2,reboot=1", [], 2, "Infection was found and removed\n" + RESTART,
         ["Infections were found and removed.",
          "Restarting the computer is needed to complete the disinfection process."]),
        ("infection=2,reboot=2", [], 2, "Infection was found and removed\n" + RESTART,
         ["Infections were found and removed.",
          "Restarting the computer is needed to complete the disinfection process."]),
        ("infection=2,errors=1", [], 3,
         "Infection was found.  An error occurred in the disinfection process.\n",
         ["Infections were found.  An error occurred in the disinfection process."]),
        ("infection=2,errors=1,reboot=1", [], 3,
         "Infection was found.  An error occurred in the disinfection process.\n" + RESTART,
         ["Infections were found.  An error occurred in the disinfection process.",
          "Restarting the computer is needed to complete the disinfection process."]),
        ("infection=2,errors=1,reboot=1", ["/SILENT"], 0, "", []),
    ]

    def test_outcome_table(self):
        for preset, args, code, console, trace in self.CASES:
            with self.subTest(preset=preset, args=args):
                log_before = len(self.box.log_lines())
                res = self.box.run_program(*args, program=SEAM_PROGRAM,
                                           env={"RAVLOKFIX_TEST_OUTCOME": preset})
                self.assertEqual(res.code, code)
                rest = banner_and_rest(self, res.stdout)
                self.assertTrue(rest.endswith(console), rest)
                if not console:
                    self.assertNotIn("infection", rest.lower().replace("infected process", ""))
                lines = self.box.log_lines()[max(log_before - 1, 0):]
                exit_at = lines.index(f"Exiting, return value {code}")
                self.assertEqual(lines[exit_at - len(trace):exit_at], trace)
                if not trace:
                    self.assertFalse(any("Infections were" in l or "Restarting" in l for l in lines))


class BadInput(SandboxTestCase):
    def test_many_and_long_arguments(self):
        for args in (["a" * 30000], ["b" * 100] * 300, ["/silent" + "x" * 5000, "/VE" + "R" * 2000]):
            with self.subTest(count=len(args), length=len(args[0])):
                res = self.box.run_program(*args)
                self.assertEqual(res.code, 0)
                self.assertTrue(banner_and_rest(self, res.stdout).endswith("No infection found\n"))


if __name__ == "__main__":
    unittest.main()
