"""End-to-end harness: a throwaway Windows machine (a Wine prefix copied from
the test run's template, or made afresh: 32-bit for the x86 suite, 64-bit for
the x64 suite) on which the real program runs. Its programs are started,
waited for and ended through programs.py."""

import itertools
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import programs  # noqa: E402
import wormify  # noqa: E402
from places import LOG  # noqa: E402

SIGNATURES = wormify.SIGNATURES

TEST_ROOT = os.environ.get("RAVLOK_TEST_ROOT", "")
# The architecture of the suite: x86 (the 32-bit program) or x64.
ARCH = os.environ.get("RAVLOK_ARCH", "x86")
# Debian's wine script picks the 32-bit loader whenever it is installed, and so
# fails even for 64-bit work where 32-bit code cannot run: 64-bit work calls
# the 64-bit loader directly.
WINE64 = "/usr/lib/wine/wine64"
WINE = "wine" if ARCH == "x86" else WINE64
BUILD_DIR = os.environ.get("RAVLOK_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
TEST_BIN = os.environ.get("RAVLOK_TEST_BIN", os.path.join(BUILD_DIR, "tests", "bin"))
PROGRAM = os.path.join(BUILD_DIR, "Ravlokfix.exe")
# The same program with the platform probes open to substitution.
SEAM_PROGRAM = os.path.join(TEST_BIN, "RavlokfixSeam.exe")

_counter = itertools.count()


LAUNCH_FAILED = b"Application could not be started"
LAUNCH_ATTEMPTS = 3
# What reg.exe says of a key or value that is not there (and nothing else).
REG_NOT_FOUND = "Unable to find the specified registry"


def whole_exit_code(stdout):
    """The output of exit_status.exe or console_event.exe: what the program it
    ran printed, and that program's whole exit code from the last line (Wine
    hands a Unix parent only its low byte)."""
    printed, code = stdout.replace("\r\n", "\n").rsplit("exit status ", 1)
    return printed, int(code, 16)


class Result:
    def __init__(self, code, stdout):
        self.code = code
        self.stdout = stdout

    def __repr__(self):
        return f"Result(code={self.code}, stdout={self.stdout!r})"


class Sandbox:
    """One Windows machine: the Wine prefix at prefix, which copied() copies
    from a template of the test run and create() makes afresh. Wine's
    messages go to stderr_log (by default a file inside the prefix)."""

    def __init__(self, prefix, stderr_log=None):
        self.prefix = prefix
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("WINEARCH", None)
        if WINE == WINE64:
            self.env["WINELOADER"] = WINE64
        self.stderr_log = stderr_log or os.path.join(self.prefix, "wine-stderr.log")
        # The programs started in the background, and whether the server is kept up.
        self.started = []
        self.kept = False

    @classmethod
    def copied(cls, name="case", template="template"):
        """A machine for one test case: a copy of the test run's template."""
        if not TEST_ROOT:
            raise unittest.SkipTest("run through scripts/test, which makes the sandbox")
        prefix = os.path.join(TEST_ROOT, f"e2e-{name}-{os.getpid()}-{next(_counter)}")
        shutil.copytree(os.path.join(TEST_ROOT, template), prefix, symlinks=True)
        return cls(prefix)

    @classmethod
    def log_beside(cls, prefix):
        """A machine of its own at prefix (made with create()), whose Wine
        messages go to a file beside it."""
        prefix = os.path.abspath(prefix)
        return cls(prefix, stderr_log=prefix + "-wine.log")

    def create(self, bits):
        """Makes the machine afresh with wineboot: a 32-bit or a 64-bit one.
        The 64-bit one is made by the 64-bit loader, whatever the suite."""
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)
        env = dict(self.env, WINEARCH=f"win{bits}")
        if bits == 64:
            env["WINELOADER"] = WINE64
        code = programs.run_silently([WINE64 if bits == 64 else "wine", "wineboot", "-i"], env=env, timeout=600)
        if code != 0:
            raise AssertionError(f"wineboot -i failed with {code}")
        self.wait_server_idle(timeout=600)

    # --- places on the machine -------------------------------------------
    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    @property
    def windows_dir(self):
        return os.path.join(self.drive_c, "windows")

    @property
    def system_dir(self):
        return os.path.join(self.windows_dir, "system32")

    def host_path(self, windows_path):
        """C:\\x\\y -> the Linux path of that file in this prefix; another
        drive letter or \\\\host\\share through the prefix's dosdevices."""
        if windows_path.startswith("\\\\"):
            return os.path.join(self.prefix, "dosdevices", "unc", *windows_path[2:].split("\\"))
        assert windows_path[1:3] == ":\\", windows_path
        drive = windows_path[0].lower()
        top = self.drive_c if drive == "c" else os.path.join(self.prefix, "dosdevices", drive + ":")
        return os.path.join(top, *windows_path[3:].split("\\"))

    def log_text(self):
        path = self.host_path(LOG)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    def log_lines(self):
        text = self.log_text()
        return [] if text is None else text.split("\r\n")

    def trace_mark(self):
        """Where the trace lines of the next run begin (see trace_since)."""
        return max(len(self.log_lines()) - 1, 0)

    def trace_since(self, mark):
        """The whole lines (each ended by its line end) that the trace log
        gained since trace_mark() gave mark."""
        return self.log_lines()[mark:-1]

    # --- running things ----------------------------------------------------
    def wine(self, *args, env=None, check=True, timeout=120, own_session=False):
        """Runs a Windows program to its end (own_session: see programs.run)."""
        # A builtin program that Wine's launcher could not start never ran.
        code, out = self._run_started([WINE, *args], env, lambda out, code: code == 0 or not out.startswith(LAUNCH_FAILED),
                                      timeout=timeout, own_session=own_session)
        if check and code != 0:
            raise AssertionError(f"wine {args} failed with {code}: {out!r}; stderr ends {self.stderr_tail()!r}")
        return Result(code, out.decode("latin-1"))

    def stderr_tail(self, size=600):
        """The end of what the machine's programs wrote to stderr (Wine's own
        messages included), for a failure's message."""
        try:
            with open(self.stderr_log, "rb") as err:
                err.seek(0, os.SEEK_END)
                err.seek(max(0, err.tell() - size))
                return err.read().decode("latin-1")
        except OSError:
            return ""

    def _env(self, env):
        return {**self.env, **(env or {})}

    def _run_started(self, command, env, ran, **kwargs):
        """Runs a command of the machine; returns its exit code and output.
        One that ran(output, exit code) says never started (a busy prefix's
        launcher now and then fails) is run again, up to LAUNCH_ATTEMPTS
        times, each failure noted in the machine's Wine log."""
        for _ in range(LAUNCH_ATTEMPTS):
            code, out = programs.run(command, env=self._env(env), stderr=self.stderr_log, **kwargs)
            if ran(out, code):
                break
            with open(self.stderr_log, "ab") as err:
                err.write(f"harness: {command[1]} did not start (exit {code}, printed {out[:80]!r})\n".encode())
            time.sleep(0.5)
        return code, out

    def start(self, *args, env=None, cwd=None, ready=None):
        """Starts a Windows program beside the caller and returns it at once
        (a programs.Program, which the machine's stop() ends). ready: the
        first line it prints once it is ready, waited for; any other fails."""
        program = programs.Program([WINE, *args], env=self._env(env), stderr=self.stderr_log, cwd=cwd)
        self.started.append(program)
        if ready is not None:
            said = program.read_line().strip()
            if said != ready:
                raise AssertionError(f"{args[0]} said {said!r}, not {ready!r}; stderr ends {self.stderr_tail()!r}")
        return program

    def start_program(self, windows_path, seen_as=None):
        """Starts a program of the machine for ten minutes (a loaded machine
        can take minutes over one test) and waits until a process walk sees
        it (by the path seen_as, when the walk cannot hold the whole)."""
        self.keep_server()
        program = self.start(windows_path, "600000")
        seen = self.wine(os.path.join(TEST_BIN, "wait_for_program.exe"), seen_as or windows_path, check=False)
        if seen.code != 0:
            raise AssertionError(f"{windows_path} did not start; stderr ends {self.stderr_tail()!r}")
        return program

    def start_unendable_worm(self, windows_path):
        """Plants and starts a worm stand-in that denies everyone the right to
        end it (idle_program.cpp's deny-terminate), for ten minutes."""
        self.plant_worm(windows_path)
        return self.start(windows_path, "600000", "deny-terminate", ready="ready")

    def hold_file(self, windows_path, *switch):
        """Holds the file open until the holder ends: with read sharing only,
        so that it can be neither deleted nor renamed, or as /write or
        /delete say (file_holder.cpp)."""
        return self.start(os.path.join(TEST_BIN, "file_holder.exe"), *switch, windows_path, ready="holding")

    def run_program(self, *args, program=PROGRAM, env=None, cwd=None):
        """Runs the tool; returns its exit code and its console output (CR LF folded)."""
        # The tool prints before it acts (its banner, usage or refusal) unless
        # /QUIET silences it: a run that printed nothing, or only Wine's
        # launch failure, never started.
        quiet = any(arg.upper() == "/QUIET" for arg in args)

        def ran(out, _code):
            return (out and not out.startswith(LAUNCH_FAILED)) or (quiet and not out)

        code, out = self._run_started([WINE, program, *args], env, ran, timeout=300, cwd=cwd)
        return Result(code, out.decode("latin-1").replace("\r\n", "\n"))

    def run_traced(self, *args, run=None, **kwargs):
        """Runs the tool (through run, e.g. the handle census, when given:
        run(*args, **kwargs)); returns what the run returned and the trace
        lines of this run."""
        mark = self.trace_mark()
        res = (run or self.run_program)(*args, **kwargs)
        return res, self.trace_since(mark)

    def keep_server(self, wrapper=()):
        """Keeps this prefix's server (and so its drivers and services) up
        until the machine stops; wrapper: a command that starts the server
        (e.g. with fewer rights). A server that already runs cannot be told
        so (wineserver -p then exits with 2), and it ends a few seconds after
        its last program, taking the services with it: on a loaded machine,
        between two commands. So it is ended first, which only a test that
        has started none of its programs yet may ask for."""
        if self.kept:
            return
        if self._start_persistent_server(wrapper) != 0:
            running = [program.command for program in self.started if program.running()]
            if running:
                raise AssertionError(f"keep_server() would end the test's programs {running}")
            self.stop()
            code = self._start_persistent_server(wrapper)
            if code != 0:
                raise AssertionError(f"wineserver -p failed with {code}")
        self.kept = True

    def _start_persistent_server(self, wrapper):
        return programs.run_silently([*wrapper, "wineserver", "-p"], env=self.env)

    def restart(self):
        """A restart: every program ends (a server kept up never goes idle),
        then the work pending for the next start is carried out."""
        self.stop()
        self.wine("wineboot", "-r")
        self.wait_server_idle()

    def wait_server_idle(self, timeout=120):
        programs.run_silently(["wineserver", "-w"], env=self.env, timeout=timeout)

    def stop(self):
        """Ends the server and every program of the machine."""
        programs.run_silently(["wineserver", "-k"], env=self.env)
        self.wait_server_idle()
        for program in self.started:
            program.end()
        self.kept = False

    def close(self):
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)

    # --- registry ------------------------------------------------------------
    def reg_add(self, key, name, data, kind="REG_SZ", view=None):
        """view: None, or 32 or 64 for that registry view of a 64-bit machine."""
        args = ["reg", "add", key, "/f", "/t", kind, "/d", data]
        args[3:3] = ["/ve"] if name is None else ["/v", name]
        if view:
            args.append(f"/reg:{view}")
        self.wine(*args)

    def add_drive(self, letter, kind):
        """A drive letter of the kind that Wine calls kind ("floppy",
        "network", "cdrom"...), which its mount manager reads when the
        machine's server starts; returns the folder that holds its files."""
        folder = os.path.join(self.prefix, "drive_" + letter.lower())
        os.makedirs(folder)
        os.symlink(folder, os.path.join(self.prefix, "dosdevices", letter.lower() + ":"))
        self.reg_add("HKLM\\Software\\Wine\\Drives", letter.lower() + ":", kind)
        return folder

    def reg_delete_key(self, key):
        self.wine("reg", "delete", key, "/f", check=False)

    def reg_query(self, key, name, view=None):
        """The data of a value as text, or None when reg.exe says it is not
        there; a query that could not be made fails the test."""
        res = self.wine("reg", "query", key, "/v", name, *([f"/reg:{view}"] if view else []), check=False)
        if res.code != 0:
            if REG_NOT_FOUND in res.stdout:
                return None
            raise AssertionError(f"reg query {key} /v {name} failed with {res.code}: {res.stdout!r}; "
                                 f"stderr ends {self.stderr_tail()!r}")
        for line in res.stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

    def see_win98(self, exe_name="Ravlokfix.exe"):
        """Makes one program see the Windows 9x family."""
        self.reg_add(f"HKCU\\Software\\Wine\\AppDefaults\\{exe_name}", "Version", "win98")

    # --- files ---------------------------------------------------------------
    def write_file(self, windows_path, data):
        path = self.host_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("latin-1"))
        return path

    def read_file(self, windows_path):
        with open(self.host_path(windows_path), "rb") as f:
            return f.read()

    def exists(self, windows_path):
        return os.path.exists(self.host_path(windows_path))

    def plant_worm(self, windows_path, crc=SIGNATURES[0], program="idle_program.exe"):
        """Puts a harmless worm stand-in (a runnable copy of one of the suite's
        programs carrying a worm signature) at that path."""
        path = self.host_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        wormify.wormify(os.path.join(TEST_BIN, program), path, crc)
        return path


class SandboxTestCase(unittest.TestCase):
    """A test case with a fresh machine of its own."""

    template = "template"

    def setUp(self):
        self.box = Sandbox.copied(self.id().rsplit(".", 1)[-1][:40], self.template)
        self.addCleanup(self.box.close)
