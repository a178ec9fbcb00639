"""The demonstration: a throwaway Windows machine infected with harmless
stand-ins of W32/Ravlok.B, cleaned by the real program, then restarted.

    demo.py [--9x] [--clean] [--report] PREFIX

With --report the tool only reports the infection, and the machine is shown
unchanged afterwards.

The architecture (RAVLOK_ARCH, x86 or x64) chooses the program and the kind
of machine: a 32-bit one for x86, a 64-bit one for x64.

Also imported by the test suite, which runs the same scenario."""

import os
import sys

from infection import Infection
from places import CLEAN_SHELL, DROPPED, LOG, PQONWE, RUN_KEYS, SYSTEM_BAK, SYSTEM_INI, VALUE_NAME, WININIT
from sandbox import ARCH, PROGRAM, Sandbox

# The demonstration's running copy, in an ordinary folder.
WORM_FOLDER = "C:\\users\\Public\\Downloads"
WORM_COPY = WORM_FOLDER + "\\wupdate.exe"


def infect(box):
    """Plants the harmless infection: the worm copy runs from an ordinary
    folder, and something holds the second dropped file open, so that it can
    only go at the restart."""
    return Infection(box, running=(WORM_COPY,), held=(PQONWE,))


def shell_line(box):
    with open(box.host_path(SYSTEM_INI), "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            if line.lower().replace(" ", "").startswith("shell="):
                return line.split("=", 1)[1]
    return None


def infection_table(box, infection):
    """[(item, where, state)] for everything the worm left (infection: None
    on a clean machine)."""
    rows = []
    if infection is not None:
        rows.append(("worm copy", WORM_COPY, "present" if box.exists(WORM_COPY) else "gone"))
        rows.append(("worm process", "wupdate.exe", "running" if infection.processes[0].running() else "ended"))
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


def run_tool(box, nine_x, *switches, echo=True):
    """Runs the tool as a user would; returns (exit code, console text)."""
    cwd = None
    if nine_x:
        box.see_win98()
        # Wine's toolhelp gives the running copy's bare file name where a real
        # 9x system gives its full path: run from the copy's folder.
        cwd = box.host_path(WORM_FOLDER)
    tool = box.start(os.path.abspath(PROGRAM), *switches, cwd=cwd)
    console = []
    for line in tool.lines():
        console.append(line)
        if echo:
            print("  | " + line, end="", flush=True)
    return tool.wait(), "".join(console)


def machine_state(box, infection):
    """Everything of the infection and of the tool's work, as it stands:
    files byte for byte, the start-up values, whether the worm runs, the
    backup and the work waiting for a restart on either family."""
    files = {path: box.read_file(path) if box.exists(path) else None for path in (WORM_COPY, *DROPPED, SYSTEM_INI)}
    return {
        "files": files,
        "start-up values": {key: box.reg_query(key, VALUE_NAME) for key in RUN_KEYS},
        "worm running": infection is not None and infection.processes[0].running(),
        "system.bak": box.exists(SYSTEM_BAK),
        "work for the restart": pending_restart_work(box, True) + pending_restart_work(box, False),
    }


def changes(before, after):
    """The names of what differs between two machine states."""
    found = [f"file {path}" for path in before["files"] if before["files"][path] != after["files"][path]]
    found += [name for name in before if name != "files" and before[name] != after[name]]
    return found


def report_demo(box, infection, nine_x):
    """Only a report: the machine is shown unchanged afterwards."""
    before = machine_state(box, infection)
    log_start = box.trace_mark()
    print("\n== Running Ravlokfix.exe /REPORT" + (" (as a Windows 9x program)" if nine_x else ""))
    code, _ = run_tool(box, nine_x, "/REPORT")
    print(f"== Exit code: {code}")
    print(f"\n== Trace log of the run ({LOG})")
    for line in box.trace_since(log_start):
        print("  | " + line)
    print_table(infection_table(box, infection), "The machine after the report")
    differences = changes(before, machine_state(box, infection))
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
    box = Sandbox.log_beside(prefix)
    bits = "32-bit" if ARCH == "x86" else "64-bit"
    print(f"== The {bits} program ({ARCH}): {os.path.relpath(PROGRAM)}")
    print(f"== Creating a {bits} sandbox Windows machine ({'9x family' if nine_x else 'NT family'}) in {prefix}")
    box.create(32 if ARCH == "x86" else 64)
    box.keep_server()
    infection = None
    if not clean:
        print("== Planting a harmless simulated infection (stand-ins of the test suite, no real malware)")
        infection = infect(box)
    print_table(infection_table(box, infection), "The machine before the run")
    if report:
        return report_demo(box, infection, nine_x)
    print("\n== Running Ravlokfix.exe" + (" (as a Windows 9x program)" if nine_x else ""))
    code, _ = run_tool(box, nine_x)
    print(f"== Exit code: {code}")
    print(f"\n== Trace log of the run ({LOG})")
    for line in box.log_lines():
        print("  | " + line)
    print_table(infection_table(box, infection), "The machine after the run")
    print("\n== Work waiting for the restart")
    for line in pending_restart_work(box, nine_x) or ["(none)"]:
        print("  " + line)
    print("\n== Restarting the sandbox machine")
    box.restart()
    rows = infection_table(box, infection)
    print_table(rows, "The machine after the restart")
    box.stop()
    print(f"\n== {'Clean: every item is gone.' if cleaned(rows) else 'Something was left behind.'}")
    print(f"== The sandbox machine lies in {prefix}; remove it with: rm -rf {prefix}")
    return 0 if cleaned(rows) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
