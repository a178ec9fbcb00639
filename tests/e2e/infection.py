"""The worm's footprint planted on a sandbox machine with harmless stand-ins:
the one way the end-to-end cases and the demo infect a machine."""

from messages import FOUND_IN_MEMORY, REMOVED, after_banner
from places import (CLEAN_SHELL, DROPPED, RUN_KEYS, SYSTEM_BAK, SYSTEM_INI, VALUE_NAME, WINUPDATE, WORM_COPY,
                    WORM_SHELL)
from sandbox import SIGNATURES


def infected_system_ini(box):
    """The machine's system.ini with the worm's shell line added."""
    text = box.read_file(SYSTEM_INI).decode("latin-1")
    return text + "[boot]\r\nshell=" + WORM_SHELL + "\r\n"


class Infection:
    """Worm copies (the two signatures in turn), of which those in running
    run and those in held are held open by another program (each path as
    that program names it), with the worm's start-up values and system.ini
    shell line unless startup is false. By default: a running copy, both
    dropped files (one of them running too) and the start-up entries."""

    def __init__(self, box, running=(WORM_COPY, WINUPDATE), files=DROPPED, held=(), startup=True):
        self.box = box
        # From here on no fresh server start may run the RunOnce entries.
        box.keep_server()
        self.paths = list(dict.fromkeys(running + files))
        for n, path in enumerate(self.paths):
            box.plant_worm(path, SIGNATURES[n % 2])
        self.system_ini = None
        if startup:
            self.system_ini = infected_system_ini(box)
            box.write_file(SYSTEM_INI, self.system_ini)
            for key in RUN_KEYS:
                box.reg_add(key, VALUE_NAME, WINUPDATE)
        self.processes = [box.start_program(path) for path in running]
        self.holders = [box.hold_file(path) for path in held]

    def assert_removed(self, test, res):
        """What a complete run reports and leaves."""
        test.assertEqual(res.code, 1, res.stdout)
        test.assertEqual(after_banner(res.stdout), FOUND_IN_MEMORY + REMOVED)
        for process in self.processes:
            test.assertEqual(process.wait(timeout=30), 0, "a worm copy was not ended by the tool")
        for path in self.paths:
            test.assertFalse(self.box.exists(path), path)
        for key in RUN_KEYS:
            test.assertIsNone(self.box.reg_query(key, VALUE_NAME), key)
        test.assertEqual(self.box.read_file(SYSTEM_INI).decode("latin-1"),
                         self.system_ini.replace(WORM_SHELL, CLEAN_SHELL))
        test.assertEqual(self.box.read_file(SYSTEM_BAK).decode("latin-1"), self.system_ini)
