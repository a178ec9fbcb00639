"""The demonstration: a throwaway Windows machine infected with harmless
stand-ins of W32/Ravlok.B, cleaned by the real program, then restarted.

    demo.py [--9x] [--clean] [--report] PREFIX

With --report the tool only reports the infection, and the machine is shown
unchanged afterwards.

The architecture (RAVLOK_ARCH, x86 or x64) chooses the program and the kind
of machine: a 32-bit one for x86, a 64-bit one for x64.

Also imported by the test suite, which runs the same scenario."""

import os
import shutil
import subprocess
import sys
import time

from places import CLEAN_SHELL, DROPPED, LOG, RUN_KEYS, SYSTEM_BAK, SYSTEM_INI, VALUE_NAME, WININIT, WORM_SHELL
from sandbox import ARCH, PROGRAM, SIGNATURES, TEST_BIN, WINE, WINE64, Sandbox

# The demonstration's running copy, in an ordinary folder.
WORM_FOLDER = "C:\\users\\Public\\Downloads"
WORM_COPY = WORM_FOLDER + "\\wupdate.exe"


class DemoMachine(Sandbox):
    """A machine of its own at PREFIX, made afresh with wineboot."""

    def __init__(self, prefix):  # pylint: disable=super-init-not-called
        self.prefix = os.path.abspath(prefix)
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        WINEARCH="win32" if ARCH == "x86" else "win64")
        if WINE == WINE64:
            self.env["WINELOADER"] = WINE64
        self.stderr_log = self.prefix + "-wine.log"
        self.started = []
        self.kept = False
        self.worm = None
        self.holder = None

    def create(self):
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run([WINE, "wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)
        subprocess.run(["wineserver", "-w"], env=self.env, check=True)
        self.env.pop("WINEARCH")
        self.keep_server()


def infect(box):
    """Plants the harmless infection; returns nothing, leaves two programs running."""
    box.plant_worm(WORM_COPY, SIGNATURES[0])
    box.plant_worm(DROPPED[0], SIGNATURES[0])
    box.plant_worm(DROPPED[1], SIGNATURES[1])
    for key in RUN_KEYS:
        box.reg_add(key, VALUE_NAME, DROPPED[0])
    ini = box.host_path(SYSTEM_INI)
    with open(ini, "ab") as f:
        f.write(f"\r\n[boot]\r\nshell={WORM_SHELL}\r\n".encode())
    # The worm copy runs from an ordinary folder; it would wait ten minutes.
    box.worm = box.start(WORM_COPY, "600000", cwd=box.host_path(WORM_FOLDER))
    # Something holds the second dropped file open: it can only go at the restart.
    box.holder = box.start(os.path.join(TEST_BIN, "file_holder.exe"), DROPPED[1])
    said = box.holder.stdout.readline().strip()
    if said != b"holding":
        raise RuntimeError(f"the file holder did not start: {said!r}, exit {box.holder.poll()}")
    wait_running(box.worm)


def wait_running(process, seconds=2.0):
    """A stand-in started through wine is up once it has not ended for a while."""
    time.sleep(seconds)
    if process.poll() is not None:
        raise RuntimeError("the worm stand-in did not stay up")


def shell_line(box):
    with open(box.host_path(SYSTEM_INI), "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            if line.lower().replace(" ", "").startswith("shell="):
                return line.split("=", 1)[1]
    return None


def infection_table(box):
    """[(item, where, state)] for everything the worm left."""
    rows = []
    if box.worm is not None:
        running = box.worm.poll() is None
        rows.append(("worm copy", WORM_COPY, "present" if box.exists(WORM_COPY) else "gone"))
        rows.append(("worm process", "wupdate.exe", "running" if running else "ended"))
    for path in DROPPED:
        rows.append(("dropped file", path, "present" if box.exists(path) else "gone"))
    for key in RUN_KEYS:
        value = box.reg_query(key, VALUE_NAME)
        rows.append(("start-up value", key + "\\" + VALUE_NAME, "gone" if value is None else value))
    rows.append(("system.ini shell", SYSTEM_INI + " [boot]", shell_line(box) or "(none)"))
    return rows


def cleaned(rows):
    """True when no row of the table still shows the infection."""
    for item, _, state in rows:
        if item == "system.ini shell":
            if state != CLEAN_SHELL and state != "(none)":
                return False
        elif state not in ("gone", "ended"):
            return False
    return True


def print_table(rows, title):
    print(f"\n== {title}")
    width = max(len(where) for _, where, _ in rows)
    for item, where, state in rows:
        print(f"  {item:<17} {where:<{width}}  {state}")


def pending_restart_work(box, nine_x):
    """What the machine will do at its next start, as text lines."""
    if nine_x:
        path = box.host_path(WININIT)
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return ["WININIT.INI: " + line for line in f.read().decode("latin-1").splitlines()]
    res = box.wine("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager",
                   "/v", "PendingFileRenameOperations", check=False)
    return [line.strip() for line in res.stdout.splitlines() if "PendingFileRenameOperations" in line]


def restart(box):
    """A restart: every program ends, then the machine starts again and
    carries out the work scheduled for it."""
    for process in (box.worm, box.holder):
        if process is not None and process.poll() is None:
            process.kill()
    box.stop()
    box.restart()


def run_tool(box, nine_x, *switches, echo=True):
    """Runs the tool as a user would; returns (exit code, console text)."""
    env = {}
    cwd = None
    if nine_x:
        box.see_win98()
        # Wine's toolhelp gives the running copy's bare file name where a real
        # 9x system gives its full path: run from the copy's folder.
        cwd = box.host_path(WORM_FOLDER)
    proc = subprocess.Popen([WINE, os.path.abspath(PROGRAM), *switches], env={**box.env, **env}, cwd=cwd,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    console = []
    for raw in proc.stdout:
        line = raw.decode("latin-1").replace("\r\n", "\n")
        console.append(line)
        if echo:
            print("  | " + line, end="", flush=True)
    code = proc.wait()
    return code, "".join(console)


def machine_state(box):
    """Everything of the infection and of the tool's work, as it stands:
    files byte for byte, the start-up values, whether the worm runs, the
    backup and the work waiting for a restart on either family."""
    files = {path: box.read_file(path) if box.exists(path) else None for path in (WORM_COPY, *DROPPED, SYSTEM_INI)}
    return {
        "files": files,
        "start-up values": {key: box.reg_query(key, VALUE_NAME) for key in RUN_KEYS},
        "worm running": box.worm is not None and box.worm.poll() is None,
        "system.bak": box.exists(SYSTEM_BAK),
        "work for the restart": pending_restart_work(box, True) + pending_restart_work(box, False),
    }


def changes(before, after):
    """The names of what differs between two machine states."""
    found = [f"file {path}" for path in before["files"] if before["files"][path] != after["files"][path]]
    found += [name for name in before if name != "files" and before[name] != after[name]]
    return found


def report_demo(box, nine_x):
    """Only a report: the machine is shown unchanged afterwards."""
    before = machine_state(box)
    log_start = box.trace_mark()
    print("\n== Running Ravlokfix.exe /REPORT" + (" (as a Windows 9x program)" if nine_x else ""))
    code, _ = run_tool(box, nine_x, "/REPORT")
    print(f"== Exit code: {code}")
    print(f"\n== Trace log of the run ({LOG})")
    for line in box.trace_since(log_start):
        print("  | " + line)
    print_table(infection_table(box), "The machine after the report")
    differences = changes(before, machine_state(box))
    box.stop()
    if differences:
        print("\n== Changed by the report: " + ", ".join(differences))
    else:
        print("\n== Unchanged: every file byte for byte, the start-up values and system.ini as they were,"
              " the worm still running, no system.bak, no work waiting for the restart.")
    print(f"== The sandbox machine lies in {box.prefix}; remove it with: rm -rf {box.prefix}")
    return 0 if not differences and code in (0, 4) else 1


def main(argv):
    nine_x = "--9x" in argv
    clean = "--clean" in argv
    report = "--report" in argv
    prefix = [a for a in argv if not a.startswith("--")][0]
    box = DemoMachine(prefix)
    bits = "32-bit" if ARCH == "x86" else "64-bit"
    print(f"== The {bits} program ({ARCH}): {os.path.relpath(PROGRAM)}")
    print(f"== Creating a {bits} sandbox Windows machine ({'9x family' if nine_x else 'NT family'}) in {prefix}")
    box.create()
    if not clean:
        print("== Planting a harmless simulated infection (stand-ins of the test suite, no real malware)")
        infect(box)
    print_table(infection_table(box), "The machine before the run")
    if report:
        return report_demo(box, nine_x)
    print("\n== Running Ravlokfix.exe" + (" (as a Windows 9x program)" if nine_x else ""))
    code, _ = run_tool(box, nine_x)
    print(f"== Exit code: {code}")
    print(f"\n== Trace log of the run ({LOG})")
    for line in box.log_lines():
        print("  | " + line)
    print_table(infection_table(box), "The machine after the run")
    print("\n== Work waiting for the restart")
    for line in pending_restart_work(box, nine_x) or ["(none)"]:
        print("  " + line)
    print("\n== Restarting the sandbox machine")
    restart(box)
    rows = infection_table(box)
    print_table(rows, "The machine after the restart")
    box.stop()
    print(f"\n== {'Clean: every item is gone.' if cleaned(rows) else 'Something was left behind.'}")
    print(f"== The sandbox machine lies in {prefix}; remove it with: rm -rf {prefix}")
    return 0 if cleaned(rows) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
