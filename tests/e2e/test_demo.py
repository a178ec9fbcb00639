"""The demonstration's scenario as a test: a machine infected with the
harmless stand-ins is clean after the run and the restart."""

import unittest

import demo
from messages import FOUND_IN_MEMORY, REMOVED, RESTART
from places import PQONWE
from sandbox import SandboxTestCase


class DemoScenario(SandboxTestCase):
    def run_scenario(self, nine_x):
        infection = demo.infect(self.box)
        before = demo.infection_table(self.box, infection)
        self.assertFalse(demo.cleaned(before), before)

        code, console = demo.run_tool(self.box, nine_x, echo=False)
        self.assertEqual(code, 2, console)
        self.assertIn(FOUND_IN_MEMORY, console)
        self.assertTrue(console.endswith(REMOVED + RESTART), console)
        after_run = {where: state for _, where, state in demo.infection_table(self.box, infection)}
        self.assertEqual(after_run[PQONWE], "present", "held open until the restart")
        self.assertEqual(after_run["wupdate.exe"], "ended")

        self.box.restart()
        after_restart = demo.infection_table(self.box, infection)
        self.assertTrue(demo.cleaned(after_restart), after_restart)

    def test_nt_family(self):
        self.run_scenario(nine_x=False)

    def test_9x_family(self):
        self.run_scenario(nine_x=True)


if __name__ == "__main__":
    unittest.main()
