"""Faults met by real runs: a log file that cannot be opened, a run killed
half-way, a second run, files and keys that refuse the tool, paths at the
limits and the longest command lines. Each run ends with its exit code and
message, loses nothing, and leaves open no handle but its trace log (counted
by handle_census.exe, which runs the program's entry point)."""

import functools
import os
import re
import shutil
import signal
import stat
import time
import unittest

import standin
from fault_machines import (CENSUS_PROGRAM, CENSUS_REPORT, DEBUG_CHANNEL, LOG_HANDLE, census_run, debugger_text,
                            file_state, folder_of_length, obey_file_permissions, set_key_dacl, set_read_only,
                            stderr_size)
from infection import Infection, infected_system_ini
from messages import (DISINFECT, FAILED, FOUND_IN_MEMORY, INTERRUPTED, NOT_IN_MEMORY, NOTHING, PID, REFUSED, REMOVED,
                      REPLACE, RESTART, TRACE_REMOVED, TRACE_UNCHECKED, UNCHECKED, VERSION, VERSION_LINE, after_banner,
                      deleted, exiting, not_infected, refusal, value_status)
from places import (LOG, PQONWE, RUN_KEY, RUNONCE_KEY, SYSTEM_BAK, SYSTEM_INI, VALUE_NAME, WINUPDATE, WORM_COPY,
                    subkey)
from reboot_machines import pending_operations
from sandbox import PROGRAM, SEAM_PROGRAM, SIGNATURES, TEST_BIN, SandboxTestCase, whole_exit_code


class FaultCase(SandboxTestCase):
    def run_counted(self, *args, **kwargs):
        """A run through the census; returns its result and its trace lines,
        and checks that it leaves open no handle but its log."""
        (res, census), lines = self.box.run_traced(*args, run=functools.partial(census_run, self.box), **kwargs)
        self.assertEqual(census.new, [LOG_HANDLE], census)
        self.assertEqual(census.gone, [], census)
        if lines:
            self.assertEqual(lines[-1], exiting(res.code))
        return res, lines


class LogFile(FaultCase):
    def test_log_file_that_cannot_be_opened(self):
        # A folder of that name: the open fails, the messages go to the
        # debugger output (Wine's debugstr channel shows them).
        os.makedirs(self.box.host_path(LOG))
        infection = Infection(self.box)
        since = stderr_size(self.box)
        res, census = census_run(self.box, env=DEBUG_CHANNEL)
        infection.assert_removed(self, res)
        self.assertEqual((census.new, census.gone), ([], []))
        self.assertTrue(os.path.isdir(self.box.host_path(LOG)))
        self.assertEqual(os.listdir(self.box.host_path(LOG)), [])

        messages = debugger_text(self.box, since).split("\n")
        self.assertEqual(messages[:2], [VERSION_LINE, DISINFECT])
        for path in infection.paths:
            self.assertIn(deleted(path), messages)
        self.assertEqual(messages[-3:], [TRACE_REMOVED, exiting(1), ""])


class KilledRun(FaultCase):
    def test_killed_while_waiting_for_a_worm_copy_to_end(self):
        standin.install_driver(self.box)
        self.addCleanup(standin.remove_driver, self.box)
        infection = Infection(self.box, running=(WINUPDATE, PQONWE))

        # The tool waits 1000 ms after ending each copy: it is killed there.
        tool = self.box.start(PROGRAM)
        ended = re.compile(r"Process (.*) terminated with status 1\r\n")
        deadline = time.monotonic() + 60
        while not (found := ended.search(self.box.log_text() or "")) and tool.running():
            self.assertLess(time.monotonic(), deadline, "the tool never ended a worm copy")
            time.sleep(0.01)
        tool.kill()
        self.assertEqual(tool.wait(timeout=30), -signal.SIGKILL)
        self.assertIsNotNone(found)
        path = found.group(1)
        ended_copy, other_copy = (infection.processes if path == WINUPDATE else infection.processes[::-1])

        # Every line written before the kill is there, whole, and nothing after.
        text = self.box.log_text()
        self.assertTrue(text.endswith("\r\n"), text[-200:])
        lines = text.split("\r\n")[:-1]
        self.assertEqual(lines[:2], [VERSION_LINE, DISINFECT])
        self.assertRegex(lines[-2], "^Process " + re.escape(path) + PID + " is infection$")
        self.assertEqual(lines[-1], f"Process {path} terminated with status 1")
        for line in lines[2:-2]:
            self.assertRegex(line, "^examinate process .*" + PID + "$")
        self.assertEqual(ended_copy.wait(timeout=30), 0)
        self.assertTrue(other_copy.running())
        self.assertTrue(self.box.exists(path))
        # The scanner was switched off and stays off: a kill (TerminateProcess,
        # or SIGKILL here) ends the process before any of its code can run.
        switches = [r.data for r in standin.requests(self.box) if r.code == 0x7E800]
        self.assertEqual(switches, [b"0\0", b"0\0"])

        # A second run finishes the job and switches the scanner on again.
        res, second_lines = self.run_counted()
        infection.assert_removed(self, res)
        self.assertEqual(self.box.log_lines()[:len(lines)], lines)
        self.assertEqual(second_lines[0], VERSION_LINE)
        self.assertIn(deleted(WINUPDATE), second_lines)
        self.assertIn(deleted(PQONWE), second_lines)
        # The killed program is gone: only the census program is walked.
        self.assertFalse([line for line in second_lines if re.match(r"examinate process .*\\Ravlokfix\.exe", line)])
        switches = [r.data for r in standin.requests(self.box) if r.code == 0x7E800]
        self.assertEqual(switches, [b"0\0", b"0\0", b"1\0", b"1\0"])


class ConsoleEvent(FaultCase):
    """Ctrl+C during a run: no verdict, but the code of an interrupted run,
    which Windows's default handler gives and Wine's (exit code 0) does not.
    (Wine 8 sends no other console event: Ctrl+Break, a closed console
    window, log-off and shut-down reach the same handler on Windows.)"""

    def send_ctrl_c(self, file, text, *program, env=None):
        """Starts the program on a console of its own and sends Ctrl+C once
        the file holds the text; returns the program's whole exit code."""
        res = self.box.wine(os.path.join(TEST_BIN, "console_event.exe"), "c", file, text, *program, env=env,
                            check=False, own_session=True)
        self.assertEqual(res.code, 0, "the event was not sent")
        return whole_exit_code(res.stdout)[1]

    def test_ctrl_c_switches_the_scanner_on_again(self):
        standin.install_driver(self.box)
        self.addCleanup(standin.remove_driver, self.box)
        self.box.plant_worm(WORM_COPY)
        worm = self.box.start_program(WORM_COPY)
        # Sent during the wait after the worm copy was ended.
        code = self.send_ctrl_c(LOG, f"Process {WORM_COPY} terminated with status 1", PROGRAM)
        self.assertEqual(code, INTERRUPTED)
        self.assertEqual(worm.wait(timeout=30), 0)
        lines = self.box.log_lines()
        self.assertIn(DISINFECT + ": Console event 0 ends the run.", lines)
        self.assertFalse([line for line in lines if line.startswith("Exiting")])
        switches = [r.data for r in standin.requests(self.box) if r.code == 0x7E800]
        self.assertEqual(switches, [b"0\0", b"0\0", b"1\0", b"1\0"])

    def test_ctrl_c_during_a_report_run(self):
        # Held up through the test build's seam in the middle of its walk:
        # a report that ended with 0 would read "No infection found".
        self.box.plant_worm(WINUPDATE)
        stall = "C:\\stall.txt"
        code = self.send_ctrl_c(stall, "stalled", SEAM_PROGRAM, "/REPORT", env={"RAVLOKFIX_TEST_STALL": stall})
        self.assertEqual(code, INTERRUPTED)
        self.assertFalse([line for line in self.box.log_lines() if line.startswith("Exiting")])


class UncaughtFault(FaultCase):
    """A fault that no step can catch, planted through the test build's seam
    inside the step that found a worm copy, before its removal: the scanner
    goes back on first, once, and the process ends with the fault's code."""

    CASES = [
        # planted fault, exit code, the run's last trace line
        ("access_violation", 0xC0000005, DISINFECT + ": Fault C0000005 ends the run."),
        # The stack protector's end writes no line: nothing but the scanner's
        # switch runs in a process whose stack is damaged.
        ("stack_smash", 0xC0000409, None),
    ]

    def test_planted_faults_switch_the_scanner_on_again(self):
        standin.install_driver(self.box)
        self.addCleanup(standin.remove_driver, self.box)
        self.box.plant_worm(WINUPDATE)
        for fault, status, last_line in self.CASES:
            with self.subTest(fault):
                res, lines = self.box.run_traced(os.path.join(TEST_BIN, "exit_status.exe"), SEAM_PROGRAM,
                                                 run=self.box.wine, check=False,
                                                 env={"RAVLOKFIX_TEST_FAULT": fault})
                self.assertEqual(res.code, 0, res.stdout)
                self.assertEqual(whole_exit_code(res.stdout)[1], status)
                switches = [r.data for r in standin.requests(self.box) if r.code == 0x7E800]
                self.assertEqual(switches, [b"0\0", b"0\0", b"1\0", b"1\0"])
                # Cut short inside the step: the copy is still there, and the
                # run never reached its end.
                self.assertTrue(self.box.exists(WINUPDATE))
                self.assertFalse([line for line in lines if line.startswith("Exiting")])
                if last_line:
                    self.assertEqual(lines[-1], last_line)


class SecondRun(FaultCase):
    def test_second_run_after_a_successful_one(self):
        infection = Infection(self.box)
        clean = "C:\\Tools\\idle.exe"
        shutil.copyfile(os.path.join(TEST_BIN, "idle_program.exe"), self.box.write_file(clean, b""))
        bystander = self.box.start_program(clean)
        self.box.reg_add(RUN_KEY, "neighbour", clean)
        res, _ = self.run_counted()
        infection.assert_removed(self, res)

        files = file_state(self.box)
        kept = {path: self.box.read_file(path) for path in (SYSTEM_INI, SYSTEM_BAK, LOG)}
        keys = [self.box.wine("reg", "query", key).stdout for key in (RUN_KEY, RUNONCE_KEY)]
        res, lines = self.run_counted()
        self.assertEqual(res.code, 0)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + NOTHING)
        self.assertIn(not_infected(WINUPDATE), lines)
        self.assertIn(not_infected(PQONWE), lines)
        self.assertIn(value_status(subkey(RUN_KEY), 2), lines)
        self.assertFalse([line for line in lines if line.startswith(REPLACE)])

        # Nothing harmed: the files the run rewrites hold what they held, the
        # log only grew, no other file changed and no key either.
        self.assertEqual(self.box.read_file(SYSTEM_INI), kept[SYSTEM_INI])
        self.assertEqual(self.box.read_file(SYSTEM_BAK), kept[SYSTEM_INI])
        self.assertTrue(self.box.read_file(LOG).startswith(kept[LOG]))
        rewritten = {self.box.host_path(p)[len(self.box.drive_c) + 1:] for p in (SYSTEM_INI, SYSTEM_BAK, LOG,
                                                                                  CENSUS_REPORT)}
        now = file_state(self.box)
        changed = {path for path in set(files) | set(now) if files.get(path) != now.get(path)}
        self.assertEqual(changed - rewritten, set())
        self.assertEqual([self.box.wine("reg", "query", key).stdout for key in (RUN_KEY, RUNONCE_KEY)], keys)
        self.assertTrue(bystander.running(), "a clean program was ended")


class RefusingFilesAndKeys(FaultCase):
    def test_dropped_file_that_is_a_directory(self):
        inside = WINUPDATE + "\\inside.txt"
        self.box.write_file(inside, b"kept")
        self.box.plant_worm(PQONWE)
        res, lines = self.run_counted()
        self.assertEqual(res.code, 1)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + REMOVED)
        self.assertIn(not_infected(WINUPDATE), lines)
        self.assertIn(deleted(PQONWE), lines)
        self.assertEqual(self.box.read_file(inside), b"kept")
        self.assertFalse(self.box.exists(PQONWE))

    def test_dropped_file_without_read_permission(self):
        unreadable = self.box.plant_worm(WINUPDATE, SIGNATURES[1])
        self.box.plant_worm(PQONWE)
        with open(unreadable, "rb") as f:
            content = f.read()
        os.chmod(unreadable, 0)
        obey_file_permissions(self.box)
        res, lines = self.run_counted()
        # Not a clean file: a check that could not be made, and said so.
        self.assertEqual(res.code, 1)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + REMOVED + UNCHECKED)
        self.assertIn(f"Cannot open file {WINUPDATE} for the signature check, error=5", lines)
        self.assertNotIn(not_infected(WINUPDATE), lines)
        self.assertIn(TRACE_UNCHECKED, lines)
        self.assertIn(deleted(PQONWE), lines)
        self.assertEqual(stat.S_IMODE(os.stat(unreadable).st_mode), 0)

        # The permission alone kept it out: readable, it is found and removed.
        os.chmod(unreadable, 0o644)
        with open(unreadable, "rb") as f:
            self.assertEqual(f.read(), content)
        res, lines = self.run_counted()
        self.assertEqual(res.code, 1)
        self.assertIn(deleted(WINUPDATE), lines)
        self.assertFalse(self.box.exists(WINUPDATE))

    def test_worm_copies_on_read_only_files(self):
        # A running copy and a dropped file, both read-only: each is deleted
        # at once rather than left to a restart that would leave it too.
        self.box.plant_worm(WORM_COPY)
        self.box.plant_worm(PQONWE, SIGNATURES[1])
        for path in (WORM_COPY, PQONWE):
            set_read_only(self.box, path)
        worm = self.box.start_program(WORM_COPY)
        res, lines = self.run_counted()
        self.assertEqual(res.code, 1, res.stdout)
        self.assertEqual(after_banner(res.stdout), FOUND_IN_MEMORY + REMOVED)
        self.assertEqual(worm.wait(timeout=30), 0)
        for path in (WORM_COPY, PQONWE):
            self.assertIn(f"{REPLACE}Read-only attribute cleared ({path}).", lines)
            self.assertIn(deleted(path), lines)
            self.assertFalse(self.box.exists(path))

    def test_read_only_worm_copy_in_use_goes_at_the_restart(self):
        self.box.plant_worm(WINUPDATE)
        set_read_only(self.box, WINUPDATE)
        holder = self.box.hold_file(WINUPDATE)
        res, lines = self.run_counted()
        self.assertEqual(res.code, 2, res.stdout)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + REMOVED + RESTART)
        self.assertIn(deleted(WINUPDATE, 2), lines)
        self.assertEqual(pending_operations(self.box), ["\\??\\" + WINUPDATE])

        holder.end()
        self.box.restart()
        self.assertFalse(self.box.exists(WINUPDATE))

    def test_worm_copy_held_open_for_writing_is_recognised(self):
        # Another program writing to the copy does not hide it: it is found
        # and, as it cannot go now, goes at the restart.
        self.box.plant_worm(WINUPDATE)
        self.box.hold_file(WINUPDATE, "/write")
        res, lines = self.run_counted()
        self.assertEqual(res.code, 2, res.stdout)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + REMOVED + RESTART)
        self.assertIn(deleted(WINUPDATE, 2), lines)
        self.assertEqual(pending_operations(self.box), ["\\??\\" + WINUPDATE])
        self.assertFalse([line for line in lines if line.startswith("Cannot open file")])

    def test_system_bak_read_only(self):
        # As root, Wine writes over a read-only file; a machine that obeys
        # the permissions refuses, as Windows does.
        obey_file_permissions(self.box)
        self.box.plant_worm(WINUPDATE)
        infected = infected_system_ini(self.box)
        self.box.write_file(SYSTEM_INI, infected)
        self.box.write_file(SYSTEM_BAK, b"an older backup\r\n")
        set_read_only(self.box, SYSTEM_BAK)
        self.box.reg_add(RUN_KEY, VALUE_NAME, WINUPDATE)
        res, lines = self.run_counted()
        # Without its backup system.ini is left as it is, and the run fails.
        self.assertEqual(res.code, 3, res.stdout)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + FAILED)
        self.assertIn("cannot make win.ini backup copy error =5", lines)
        self.assertEqual(self.box.read_file(SYSTEM_INI).decode("latin-1"), infected)
        self.assertEqual(self.box.read_file(SYSTEM_BAK), b"an older backup\r\n")
        self.assertFalse(self.box.exists(WINUPDATE))
        self.assertIn(value_status(subkey(RUN_KEY), 0), lines)
        self.assertIsNone(self.box.reg_query(RUN_KEY, VALUE_NAME))

    def test_start_up_key_without_write_access(self):
        # Wine checks a key's DACL: read access alone, for everyone.
        self.box.keep_server()
        self.box.plant_worm(WINUPDATE)
        self.box.reg_add(RUN_KEY, VALUE_NAME, WINUPDATE)
        self.box.reg_add(RUNONCE_KEY, VALUE_NAME, WINUPDATE)
        set_key_dacl(self.box, "MACHINE\\" + subkey(RUN_KEY), "D:P(A;;KR;;;WD)")
        res, lines = self.run_counted()
        # The value is left and traced, and the run failed: the worm would
        # be started again by the value if it came back.
        self.assertEqual(res.code, 3, res.stdout)
        self.assertEqual(after_banner(res.stdout), NOT_IN_MEMORY + FAILED)
        self.assertIn(f"Cannot open key {subkey(RUN_KEY)} 0x5", lines)
        self.assertEqual(self.box.reg_query(RUN_KEY, VALUE_NAME), WINUPDATE)
        self.assertIn(value_status(subkey(RUNONCE_KEY), 0), lines)
        self.assertIsNone(self.box.reg_query(RUNONCE_KEY, VALUE_NAME))
        self.assertFalse(self.box.exists(WINUPDATE))


class PathLimits(FaultCase):
    NAME = "wupd.exe"

    def worm_at(self, length, top):
        path = folder_of_length(self.box, length - len(self.NAME) - 1, top) + "\\" + self.NAME
        self.assertEqual(len(path), length)
        self.box.plant_worm(path)
        return path, self.box.start_program(path, seen_as=path[:259])

    def test_worm_copy_in_a_folder_of_250_characters(self):
        # 259 characters: the longest path the walk's 260-byte buffer holds.
        path, worm = self.worm_at(259, "C:\\Deep")
        res, lines = self.run_counted()
        self.assertEqual(res.code, 1, res.stdout)
        self.assertEqual(after_banner(res.stdout), FOUND_IN_MEMORY + REMOVED)
        self.assertEqual(worm.wait(timeout=30), 0)
        self.assertIn(f"Process {path} terminated with status 1", lines)
        self.assertIn(deleted(path), lines)
        self.assertFalse(self.box.exists(path))

    def test_worm_copies_at_263_and_264_characters(self):
        # Wine starts programs from such paths, which Windows does not. The
        # walk reads the whole path and the copies are ended; the file
        # functions take no path that long, so the files stay and the run
        # says so. A clean file at the path cut to 259 characters, which the
        # walk's old 260-byte buffer gave, is left alone.
        copies = {}
        for length in (263, 264):
            path, worm = self.worm_at(length, f"C:\\Deep{length}")
            cut = path[:259]
            self.box.write_file(cut, b"clean")
            copies[path] = (cut, worm)
        res, lines = self.run_counted()
        self.assertEqual(res.code, 3, res.stdout)
        self.assertEqual(after_banner(res.stdout), FOUND_IN_MEMORY + FAILED)
        for path, (cut, worm) in copies.items():
            self.assertEqual(worm.wait(timeout=30), 0)
            self.assertIn(f"Process {path} terminated with status 1", lines)
            self.assertIn(REPLACE + f"The path is too long for the file functions, not touched ({path}).", lines)
            self.assertTrue(self.box.exists(path))
            self.assertEqual(self.box.read_file(cut), b"clean")
        self.assertFalse([line for line in lines if line.startswith(REPLACE) and "Deep" in line and "too long" not in line
                          and "Delete operation" not in line])


class CommandLine(FaultCase):
    """Wine hands a program at most 32766 characters of command line (with
    its terminator the 32767 of Windows): the quoted program path, then each
    argument after a blank. Given more, Wine's loader refuses to start the
    program: it reports "command line too long (<length>)" on its err
    channel and exits with status 1 before any of the program runs. A
    thousand arguments of 1,000 characters make 1,001,021 characters here,
    so the program never starts; the most that does start is tested instead:
    a thousand arguments that fill the command line to the last character,
    and 32 arguments of 1,000 characters."""

    AT = "C:\\Tools\\census.exe"
    LIMIT = 32766

    def setUp(self):
        super().setUp()
        shutil.copyfile(CENSUS_PROGRAM, self.box.write_file(self.AT, b""))

    def arguments(self, count, total, last=None):
        """count arguments, the last one given or not, that make a command line of total characters."""
        fixed = len(f'"{self.AT}"') + count + (len(last) if last else 0)
        free = count - (1 if last else 0)
        size, extra = divmod(total - fixed, free)
        args = [f"{i:04d}".ljust(size + (1 if i < extra else 0), "x") for i in range(free)]
        args += [last] if last else []
        self.assertEqual(len(f'"{self.AT}"') + sum(1 + len(a) for a in args), total)
        return args


    def test_the_longest_command_lines_that_start(self):
        cases = [
            # what, arguments, the argument refused as the refusal shows it
            # (None: the run shows the version line alone)
            ("a thousand arguments to the last character", self.arguments(1000, self.LIMIT),
             "0000xxxxxxxxxxxxxxxxxxxxxxxxxxxx"),
            ("the thousandth argument is examined", self.arguments(1000, self.LIMIT, "/VER"), None),
            ("32 arguments of 1,000 characters", ["a" * 1000] * 32, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa..."),
        ]
        for what, args, refused in cases:
            with self.subTest(what):
                res, census = census_run(self.box, *args, program=self.AT)
                if refused:
                    self.assertEqual(res.code, REFUSED)
                    self.assertTrue(res.stdout.startswith(refusal(refused) + "Usage: "), res.stdout)
                    self.assertEqual(census.new, [LOG_HANDLE])
                else:
                    self.assertEqual((res.code, res.stdout), (0, VERSION))
                    self.assertEqual(census.new, [])
                self.assertEqual(census.gone, [])

    def test_longer_command_lines_are_refused_by_wine(self):
        cases = [
            ("a thousand arguments of 1,000 characters", ["a" * 1000] * 1000),
            ("a thousand arguments, one character over", self.arguments(1000, self.LIMIT + 1)),
            ("33 arguments of 1,000 characters", ["a" * 1000] * 33),
        ]
        for what, args in cases:
            with self.subTest(what):
                length = len(f'"{self.AT}"') + sum(1 + len(a) for a in args)
                since = stderr_size(self.box)
                res = self.box.run_program(*args, program=self.AT,
                                           env={"WINEDEBUG": "-all,err+environ", "RAVLOK_CENSUS": CENSUS_REPORT})
                self.assertEqual((res.code, res.stdout), (1, ""))
                with open(self.box.stderr_log, "rb") as f:
                    f.seek(since)
                    self.assertIn(f"command line too long ({length})", f.read().decode("latin-1"))
                self.assertIsNone(self.box.log_text())
                self.assertFalse(self.box.exists(CENSUS_REPORT))


if __name__ == "__main__":
    unittest.main()
