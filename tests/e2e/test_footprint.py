"""Every place of the worm's footprint, as the program itself lists it: a
report run finds a trace planted there, a removal run then removes it, and a
second report finds the machine clean. A place added to the program's
footprint is visited here with no change to this module."""

import os
import unittest

from infection import infected_system_ini
from places import CLEAN_SHELL, RUN, SYSTEM_INI, WINUPDATE, WORM_COPY, WORM_SHELL, short_key
from sandbox import ARCH, TEST_BIN, SandboxTestCase


def shell_line(box):
    """The value of system.ini's shell line, as a profile read sees it."""
    section = None
    for line in box.read_file(SYSTEM_INI).decode("latin-1").splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line[1:].split("]")[0].lower()
        elif section == "boot" and line.lower().startswith("shell="):
            return line[len("shell="):]
    return None


class Footprint(SandboxTestCase):
    def setUp(self):
        super().setUp()
        # Nothing planted in a RunOnce key may run at a fresh server start.
        self.box.keep_server()
        if ARCH == "x64":
            # The 32-bit view's own Run key, as every 64-bit Windows has it.
            self.box.wine("reg", "add", "HKLM\\" + RUN, "/f", "/reg:32")

    def places(self):
        listed = self.box.wine(os.path.join(TEST_BIN, "footprint_list.exe")).stdout
        return [line.rstrip("\r").split("\t") for line in listed.splitlines() if line.strip()]

    def run_tool(self, *args):
        res = self.box.run_program(*args)
        return res.code, res.stdout

    # One way per kind of place to plant a trace, to name what the report
    # says of it, and to tell that the removal took it away.
    def plant(self, place):
        kind = place[0]
        if kind == "file":
            self.box.plant_worm(place[1])
            return f"Report: worm file: {place[1]}, left in place", 1, lambda: not self.box.exists(place[1])
        if kind == "shell":
            self.assertEqual(place[1:], ["system.ini", "Boot", "Shell", CLEAN_SHELL])
            self.box.write_file(SYSTEM_INI, infected_system_ini(self.box))
            return (f"Report: system.ini shell line: shell={WORM_SHELL}, left as it is", 0,
                    lambda: shell_line(self.box) == CLEAN_SHELL)
        if kind == "value":
            root, key, name, view = place[1:]
            reg_key = short_key(root + "\\" + key)
            view = int(view) or None
            self.box.reg_add(reg_key, name, WINUPDATE, view=view)
            return (f"Report: start-up value: {root}\\{key}\\{name} = {WINUPDATE}, left in place", 0,
                    lambda: self.box.reg_query(reg_key, name, view=view) is None)
        self.fail(f"the program cannot name this place: {place}")

    def check_place(self, finding, removal_code, removed):
        code, console = self.run_tool("/REPORT")
        self.assertEqual(code, 4, console)
        self.assertIn(finding + "\n", console)
        self.assertFalse(removed(), "the report changed the machine")

        code, console = self.run_tool()
        self.assertEqual(code, removal_code, console)
        self.assertTrue(removed(), console)

        code, console = self.run_tool("/REPORT")
        self.assertEqual(code, 0, console)

    def test_every_place_is_reported_then_removed(self):
        places = self.places()
        self.assertEqual({place[0] for place in places}, {"file", "shell", "value"}, places)
        for place in places:
            with self.subTest(place="\t".join(place)):
                self.check_place(*self.plant(place))

    def test_running_copy_is_reported_then_removed(self):
        # Running copies are found by content wherever they run.
        self.box.plant_worm(WORM_COPY)
        worm = self.box.start_program(WORM_COPY)
        finding = f"Report: worm process running: {WORM_COPY} (PID=0x"
        code, console = self.run_tool("/REPORT")
        self.assertEqual(code, 4, console)
        self.assertIn(finding, console)
        self.assertTrue(worm.running(), "the report ended the worm copy")

        code, console = self.run_tool()
        self.assertEqual(code, 1, console)
        self.assertEqual(worm.wait(timeout=30), 0)
        self.assertFalse(self.box.exists(WORM_COPY))
        self.assertEqual(self.run_tool("/REPORT")[0], 0)


if __name__ == "__main__":
    unittest.main()
