"""End-to-end harness: a throwaway Windows machine (a Wine prefix copied from
the test run's template: 32-bit for the x86 suite, 64-bit for the x64 suite)
on which the real program runs."""

import itertools
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
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


class Result:
    def __init__(self, code, stdout):
        self.code = code
        self.stdout = stdout

    def __repr__(self):
        return f"Result(code={self.code}, stdout={self.stdout!r})"


class Sandbox:
    """One Windows machine for one test case."""

    def __init__(self, name="case", template="template"):
        if not TEST_ROOT:
            raise unittest.SkipTest("run through scripts/test, which makes the sandbox")
        self.prefix = os.path.join(TEST_ROOT, f"e2e-{name}-{os.getpid()}-{next(_counter)}")
        shutil.copytree(os.path.join(TEST_ROOT, template), self.prefix, symlinks=True)
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("WINEARCH", None)
        if WINE == WINE64:
            self.env["WINELOADER"] = WINE64
        self.stderr_log = os.path.join(self.prefix, "wine-stderr.log")
        # The programs started in the background, and whether the server is kept up.
        self.started = []
        self.kept = False

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
        """C:\\x\\y -> the Linux path of that file in this prefix."""
        assert windows_path[1:3] == ":\\", windows_path
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

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
    def wine(self, *args, env=None, check=True, timeout=120, stdin=subprocess.DEVNULL, own_session=False):
        """own_session: in a session of its own, so that signals Wine sends to
        its process group (console events) reach no other test's programs."""
        # A builtin program that Wine's launcher could not start never ran.
        proc = self._run_started([WINE, *args], env, lambda out, code: code == 0 or not out.startswith(LAUNCH_FAILED),
                                 stdin=stdin, timeout=timeout, start_new_session=own_session)
        if check and proc.returncode != 0:
            raise AssertionError(f"wine {args} failed with {proc.returncode}: {proc.stdout!r}; "
                                 f"stderr ends {self.stderr_tail()!r}")
        return Result(proc.returncode, proc.stdout.decode("latin-1"))

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

    def _run_started(self, command, env, ran, **kwargs):
        """Runs a command of the machine; one that ran(stdout, exit code)
        says never started (a busy prefix's launcher now and then fails) is
        run again, up to LAUNCH_ATTEMPTS times, each failure noted in the
        machine's Wine log."""
        run_env = dict(self.env)
        if env:
            run_env.update(env)
        for _ in range(LAUNCH_ATTEMPTS):
            with open(self.stderr_log, "ab") as err:
                proc = subprocess.run(command, env=run_env, stdout=subprocess.PIPE, stderr=err, **kwargs)
                if ran(proc.stdout, proc.returncode):
                    break
                err.write(f"harness: {command[1]} did not start (exit {proc.returncode}, "
                          f"printed {proc.stdout[:80]!r})\n".encode())
            time.sleep(0.5)
        return proc

    def start(self, *args, env=None, cwd=None):
        """Starts a Windows program and returns at once (a subprocess.Popen)."""
        run_env = dict(self.env)
        if env:
            run_env.update(env)
        err = open(self.stderr_log, "ab")
        try:
            process = subprocess.Popen([WINE, *args], env=run_env, stdout=subprocess.PIPE, stderr=err,
                                       stdin=subprocess.DEVNULL, cwd=cwd)
        finally:
            err.close()
        self.started.append(process)
        return process

    def run_program(self, *args, program=PROGRAM, env=None, cwd=None):
        """Runs the tool; returns its exit code and its console output (CR LF folded)."""
        # The tool prints before it acts (its banner, usage or refusal) unless
        # /QUIET silences it: a run that printed nothing, or only Wine's
        # launch failure, never started.
        quiet = any(arg.upper() == "/QUIET" for arg in args)

        def ran(out, _code):
            return (out and not out.startswith(LAUNCH_FAILED)) or (quiet and not out)

        proc = self._run_started([WINE, program, *args], env, ran, stdin=subprocess.DEVNULL, timeout=300, cwd=cwd)
        return Result(proc.returncode, proc.stdout.decode("latin-1").replace("\r\n", "\n"))

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
            running = [process.args for process in self.started if process.poll() is None]
            if running:
                raise AssertionError(f"keep_server() would end the test's programs {running}")
            self.stop()
            code = self._start_persistent_server(wrapper)
            if code != 0:
                raise AssertionError(f"wineserver -p failed with {code}")
        self.kept = True

    def _start_persistent_server(self, wrapper):
        return subprocess.run([*wrapper, "wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def restart(self):
        """Carries out the work pending for the next restart. A server kept
        up never goes idle: it ends first, as every program does at a restart."""
        if self.kept:
            self.stop()
        self.wine("wineboot", "-r")
        self.wait_server_idle()

    def wait_server_idle(self):
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)

    def stop(self):
        """Ends the server and every program of the machine."""
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait_server_idle()
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

    def plant_worm(self, windows_path, crc=SIGNATURES[0]):
        """Puts a harmless worm stand-in (a runnable copy of idle_program.exe
        carrying a worm signature) at that path."""
        path = self.host_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        wormify.wormify(os.path.join(TEST_BIN, "idle_program.exe"), path, crc)
        return path


class SandboxTestCase(unittest.TestCase):
    """A test case with a fresh machine of its own."""

    template = "template"

    def setUp(self):
        self.box = Sandbox(self.id().rsplit(".", 1)[-1][:40], self.template)
        self.addCleanup(self.box.close)
