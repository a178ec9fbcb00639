"""The one place of the end-to-end harness that starts programs, waits for
them and ends them: the Windows programs of a sandbox machine (through Wine)
and the few Linux ones beside them (wineserver, chattr)."""

import subprocess


def _stderr_to(path):
    return open(path, "ab") if path else subprocess.DEVNULL


def run(command, env=None, stderr=None, cwd=None, timeout=120, own_session=False):
    """Runs a program to its end; returns its exit code and what it printed
    (bytes). stderr: a file that its error output is appended to.
    own_session: in a session of its own, so that signals Wine sends to its
    process group (console events) reach no other test's programs."""
    err = _stderr_to(stderr)
    try:
        proc = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=err, timeout=timeout, start_new_session=own_session)
    finally:
        if stderr:
            err.close()
    return proc.returncode, proc.stdout


def run_silently(command, env=None, timeout=120):
    """Runs a program whose output nobody reads; returns its exit code. None
    of its streams is a pipe of ours, so a server it leaves running (as
    wineserver -p does) holds nothing open that a caller waits on."""
    return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


class Program:
    """A program started in the background: it runs beside its starter until
    it ends, or until end() ends it."""

    def __init__(self, command, env=None, stderr=None, cwd=None):
        self.command = command
        err = _stderr_to(stderr)
        try:
            self._process = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.PIPE, stderr=err)
        finally:
            if stderr:
                err.close()

    def read_line(self):
        """The next line it prints, without its line end ("" once its output has ended)."""
        return self._process.stdout.readline().decode("latin-1").rstrip("\r\n")

    def lines(self):
        """Each line it prints, as it prints it (CR LF folded to LF)."""
        for raw in self._process.stdout:
            yield raw.decode("latin-1").replace("\r\n", "\n")

    def running(self):
        return self._process.poll() is None

    def wait(self, timeout=60):
        """Its exit code once it has ended (negative: the signal that ended it)."""
        return self._process.wait(timeout=timeout)

    def finish(self, timeout=120):
        """Its exit code and the rest of its output (CR LF folded), once it has ended."""
        out, _ = self._process.communicate(timeout=timeout)
        return self._process.returncode, out.decode("latin-1").replace("\r\n", "\n")

    def kill(self):
        """Ends it at once (SIGKILL), as TerminateProcess would: none of its code runs."""
        if self.running():
            self._process.kill()

    def end(self):
        """Ends it if it still runs and collects it; once ended, it stays so."""
        self.kill()
        self._process.wait(timeout=60)
        self._process.stdout.close()
