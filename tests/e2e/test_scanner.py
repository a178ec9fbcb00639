"""The channel to the real-time scanner, against the suite's stand-in driver
and service installed on the sandbox machine."""

import os
import struct
import time
import unittest
import zlib

import standin
from messages import DISINFECT, FAILED, NOT_IN_MEMORY, after_banner, deleted
from places import WINUPDATE
from standin import (CLOSE, CONTROL, OPEN, PORTIVA_DEV, PV95, PVXK95, QDX, SERVICE, run_probe)
from sandbox import ARCH, SEAM_PROGRAM, SandboxTestCase

DEVICE_NAMES = {PORTIVA_DEV: "PortivaDev", QDX: "QDX", PV95: "PV95", PVXK95: "pvxk95"}

# Create options the driver sees: how the handle was opened.
SYNCHRONOUS_IO = 0x30  # either synchronous flag: absent on an overlapped handle
DELETE_ON_CLOSE = 0x1000
SHARE_READ_WRITE = 0x3


def describe(requests):
    """The record in words, handles numbered in the order they were opened."""
    handles = {}
    words = []
    for r in requests:
        h = handles.setdefault(r.handle, len(handles) + 1)
        if r.kind == OPEN:
            words.append(f"open {DEVICE_NAMES[r.device]} #{h}")
        elif r.kind == CLOSE:
            words.append(f"close #{h}")
        else:
            words.append(f"{r.code:#x} #{h} in={r.data!r} out={r.output_length}")
    return words


def nt_switch(text, first):
    """One SetScannerEnabled on the NT family with a driver that echoes:
    the text form on a handle of its own, then again with the read-back."""
    return [f"open PortivaDev #{first}", f"0x7e800 #{first} in={text!r} out=0", f"close #{first}",
            f"open PortivaDev #{first + 1}", f"0x7e800 #{first + 1} in={text!r} out=0",
            f"0x7f010 #{first + 1} in=b'' out=2", f"close #{first + 1}"]


class NtWithoutScanner(SandboxTestCase):
    def test_each_switch_writes_one_cannot_open_line(self):
        run = run_probe(self.box, "enable", "0", "enable", "1")
        self.assertEqual(run.trace, ["Cannot open PV error=2"] * 2)

        res = self.box.run_program()
        self.assertEqual(res.code, 0)
        self.assertEqual([l for l in self.box.log_lines() if "PV" in l], ["Cannot open PV error=2"] * 2)


class NtDriver(SandboxTestCase):
    def setUp(self):
        super().setUp()
        standin.install_driver(self.box)
        self.addCleanup(standin.remove_driver, self.box)

    def test_full_run_switches_off_before_and_on_after(self):
        res = self.box.run_program()
        self.assertEqual(res.code, 0)
        requests = standin.requests(self.box)
        self.assertEqual(describe(requests), nt_switch(b"0\0", 1) + nt_switch(b"1\0", 3))
        for opened in (r for r in requests if r.kind == OPEN):
            self.assertEqual(opened.share, SHARE_READ_WRITE)
            self.assertEqual(opened.options & (SYNCHRONOUS_IO | DELETE_ON_CLOSE), 0, "not overlapped")
        lines = self.box.log_lines()
        self.assertIn("[QRTK - Disinfect_Ravlok]", lines)
        self.assertFalse([l for l in lines if "PV" in l])

    # behaviour, enabled, SwitchScannerNt's result, trace lines, requests on its handle
    ANSWERS = [
        (standin.ECHO, 0, 1, [], ["0x7e800", "0x7f010"]),
        (standin.ECHO, 1, 1, [], ["0x7e800", "0x7f010"]),
        (standin.REFUSE_TEXT, 0, 1,
         ["PV communication error in first phase 00000032", "PV 5.4x communication successful"],
         ["0x7e800", "0x7c454"]),
        # The answer word keeps 0xABCD: no mismatch line, the 5.4x form follows.
        (standin.SILENT_READBACK, 1, 1, ["PV 5.4x communication successful"], ["0x7e800", "0x7f010", "0x7c454"]),
        (standin.REFUSE_READBACK, 1, 1,
         ["PV communication error in second phase 00000032", "PV 5.4x communication successful"],
         ["0x7e800", "0x7f010", "0x7c454"]),
        (standin.SILENT_READBACK | standin.REFUSE_54X, 0, 0,
         ["PV 5.4x communication error in first phase 00000032"], ["0x7e800", "0x7f010", "0x7c454"]),
        (standin.REFUSE_ALL, 1, 0,
         ["PV communication error in first phase 00000032", "PV 5.4x communication error in first phase 00000032"],
         ["0x7e800", "0x7c454"]),
    ]

    def test_answers_of_the_driver(self):
        inputs = {"0x7e800": "in={text!r} out=0", "0x7f010": "in=b'' out=2", "0x7c454": "in={number!r} out=0"}
        for behaviour, enabled, result, trace, codes in self.ANSWERS:
            with self.subTest(behaviour=behaviour, enabled=enabled):
                standin.set_behaviour(self.box, behaviour)
                run = run_probe(self.box, "switch", str(enabled))
                self.assertEqual(run.output, [f"switch={result}"])
                self.assertEqual(run.trace, trace)
                text, number = f"{enabled}\0".encode(), bytes([enabled, 0, 0, 0])
                expected = ["open PortivaDev #1"]
                expected += [f"{code} #1 " + inputs[code].format(text=text, number=number) for code in codes]
                self.assertEqual(describe(standin.requests(self.box)), expected + ["close #1"])

    def test_refused_text_form_through_set_scanner_enabled(self):
        standin.set_behaviour(self.box, standin.REFUSE_TEXT)
        run = run_probe(self.box, "send", "1", "enable", "0")
        # The first handle's refusal is judged silently; only the second writes lines.
        self.assertEqual(run.output, ["send=0 error=50", "enable"])
        self.assertEqual(run.trace, ["PV communication error in first phase 00000032",
                                     "PV 5.4x communication successful"])

    def test_request_completed_late_does_not_write_into_released_memory(self):
        # The read-back stays pending and completes 500 ms after the call has
        # returned; the probe covers the stack the call used and watches it.
        standin.set_behaviour(self.box, standin.PEND_READBACK)
        run = run_probe(self.box, "late-switch", "1")
        self.assertEqual(run.output, ["switch=1 stack=1"])
        self.assertEqual(run.trace, ["PV communication error in second phase 000003E5",
                                     "PV 5.4x communication successful"])

    def test_run_held_up_gets_the_scanner_on_again_at_its_time_limit(self):
        # Held up through the test build's seam inside the step that found a
        # dropped file, as a file that another program keeps waiting would
        # hold it, with the limit shortened to a second: the blocking goes
        # back on while the run still waits, once, and the run counts it.
        self.box.plant_worm(WINUPDATE)
        stall = "C:\\stall.txt"
        tool = self.box.start(SEAM_PROGRAM, env={"RAVLOKFIX_TEST_STALL": stall, "RAVLOKFIX_TEST_TIME_LIMIT_MS": "1000"})
        deadline = time.monotonic() + 120
        while b"1\0" not in [r.data for r in standin.recorded(self.box) if r.code == 0x7E800]:
            self.assertTrue(tool.running(), "the run ended first")
            self.assertLess(time.monotonic(), deadline, "the blocking stayed off while the run was held up")
            time.sleep(0.1)
        while not self.box.exists(stall):
            self.assertTrue(tool.running(), "the run ended without being held up")
            self.assertLess(time.monotonic(), deadline, "the run was never held up")
            time.sleep(0.1)
        os.remove(self.box.host_path(stall))
        code, out = tool.finish()
        self.assertEqual(code, 3, out)
        self.assertEqual(after_banner(out), NOT_IN_MEMORY + FAILED)
        lines = self.box.log_lines()
        self.assertIn(DISINFECT + ": The scanner's blocking has been off for 1000 ms, its limit, with the run still "
                      "working: it was switched on again.", lines)
        self.assertIn(deleted(WINUPDATE), lines)
        self.assertEqual(describe(standin.requests(self.box)), nt_switch(b"0\0", 1) + nt_switch(b"1\0", 3))

    def test_stopped_driver_is_absent(self):
        standin.stop_driver(self.box)
        run = run_probe(self.box, "enable", "1")
        self.assertEqual(run.trace, ["Cannot open PV error=2"])
        self.assertEqual(standin.requests(self.box), [])


class Win9xFamily(SandboxTestCase):
    """The probe sees Windows 98 through Wine's per-program version."""

    def setUp(self):
        super().setUp()
        standin.install_driver(self.box)
        self.addCleanup(standin.remove_driver, self.box)
        self.box.see_win98("scanner_probe.exe")

    # DeviceName value (data, type), the device the text form goes to
    CHOICES = [
        (None, QDX),
        (("PV95", "REG_SZ"), PV95),
        (("pv95", "REG_SZ"), QDX),
        (("PV95 ", "REG_SZ"), QDX),
        # 20 bytes beginning with "PV95" and its terminator: too large for
        # the 16-byte buffer, so not read at all.
        (("50563935" + "00" * 16, "REG_BINARY"), QDX),
    ]

    def test_device_choice_and_setting_request(self):
        for value, device in self.CHOICES:
            with self.subTest(value=value):
                standin.set_device_name(self.box, *(value or (None,)))
                run = run_probe(self.box, "enable", "0")
                # Wine checks the access bits of a control code against the
                # handle: 0x7C450 asks for read and write access, the settings
                # device is opened with access 0, so the request fails with
                # ERROR_ACCESS_DENIED before it reaches the driver (a 9x VxD
                # gets it unchecked). The close leaves that error in place.
                self.assertEqual(run.trace, ["Setting change status =0 error=5"])
                requests = standin.requests(self.box)
                self.assertEqual(describe(requests),
                                 [f"open {DEVICE_NAMES[device]} #1", "0x200 #1 in=b'0\\x00' out=0", "close #1",
                                  "open pvxk95 #2", "close #2"])
                switch_open, setting_open = requests[0], requests[3]
                self.assertEqual(switch_open.share, 0)
                self.assertEqual(switch_open.options & DELETE_ON_CLOSE, DELETE_ON_CLOSE)
                self.assertNotEqual(switch_open.options & SYNCHRONOUS_IO, 0)
                self.assertEqual(setting_open.share, 0)
                self.assertEqual(setting_open.options & (SYNCHRONOUS_IO | DELETE_ON_CLOSE), 0, "not overlapped")

    def test_full_run(self):
        self.box.see_win98()
        res = self.box.run_program()
        self.assertEqual(res.code, 0)
        self.assertEqual([l for l in self.box.log_lines() if "PV" in l or "Setting" in l],
                         ["Setting change status =0 error=5"] * 2)
        self.assertEqual(describe(standin.requests(self.box)),
                         ["open QDX #1", "0x200 #1 in=b'0\\x00' out=0", "close #1", "open pvxk95 #2", "close #2",
                          "open QDX #3", "0x200 #3 in=b'1\\x00' out=0", "close #3", "open pvxk95 #4", "close #4"])

    def test_text_form_reaches_the_driver_but_is_judged_by_wines_last_error(self):
        run = run_probe(self.box, "send", "1", "setting", "1")
        # The request succeeds, but Wine's 9x DeviceIoControl first asks
        # whether the handle is a VxD and leaves the error of that question
        # behind (ERROR_INVALID_FUNCTION for a 32-bit program, ERROR_PROC_NOT_FOUND
        # for a 64-bit one, which has no VxD support); the result, judged by
        # the last error alone, is 0 (no caller uses it).
        left_behind = {"x86": 1, "x64": 127}[ARCH]
        self.assertEqual(run.output, [f"send=0 error={left_behind}", "setting=0 error=5"])
        self.assertEqual([r.code for r in standin.requests(self.box) if r.kind == CONTROL], [0x200])

    def test_without_scanner(self):
        standin.stop_driver(self.box)
        # Without an NT device of that name Wine looks for a VxD file, finds none.
        run = run_probe(self.box, "enable", "1")
        self.assertEqual(run.trace, ["Cannot open PV error=2"])


class ServiceStates(SandboxTestCase):
    # state the service reports, IsServiceLoaded
    STATES = [
        (standin.RUNNING, 1),
        (standin.CONTINUE_PENDING, 1),
        (standin.PAUSE_PENDING, 0),
        (standin.PAUSED, 0),
        (standin.START_PENDING, 1),
        (standin.STOP_PENDING, 0),
        (standin.RUNNING, 1),
    ]

    def loaded(self, probes=None):
        return run_probe(self.box, "service", SERVICE, probes=probes).output

    def install(self):
        standin.install_service(self.box)
        self.addCleanup(standin.remove_service, self.box)

    def test_loaded_for_each_state(self):
        self.assertEqual(self.loaded(), ["service=0"], "missing service")
        self.install()
        self.assertEqual(self.loaded(), ["service=0"], "installed, never started")
        standin.start_service(self.box)
        for state, loaded in self.STATES:
            with self.subTest(state=state):
                standin.set_service_state(self.box, state)
                self.assertEqual(self.loaded(), [f"service={loaded}"])
        # Running, but outside the NT family nobody asks.
        self.assertEqual(self.loaded(probes="nt=0,kind=1"), ["service=0"])
        self.assertEqual(self.loaded(probes="kind=0"), ["service=0"])
        standin.set_service_state(self.box, standin.STOPPED)
        self.assertEqual(self.loaded(), ["service=0"])

    def test_outside_nt_family_by_version(self):
        self.install()
        standin.start_service(self.box)
        self.box.see_win98("scanner_probe.exe")
        self.assertEqual(self.loaded(), ["service=0"])


# The scanner's keys of the rename list's body: byte i is scrambled with
# RENAME_KEY_B[i % 17] ^ RENAME_KEY_A[i % 16].
RENAME_KEY_A = bytes([0x4C, 0x42, 0x5E, 0x2F, 0xC3, 0x79, 0xD9, 0x10, 0x0A, 0x96, 0x57, 0x3C, 0xBD, 0xE6, 0x1E, 0x29])
RENAME_KEY_B = bytes([0xF1, 0xA8, 0x0B, 0xD1, 0x6F, 0x00, 0x32, 0xA7, 0x95, 0x91, 0x94, 0x21, 0xB5, 0xD8, 0x00, 0xE0,
                      0xB4])


def read_rename_list(data):
    """The pairs of a rename-list file, with the checks the scanner makes."""
    header, body = data[:16], bytearray(data[16:])
    for i in range(len(body)):
        body[i] ^= RENAME_KEY_B[i % 17] ^ RENAME_KEY_A[i % 16]
    assert zlib.crc32(bytes(body)) == struct.unpack_from("<I", header, 8)[0], "checksum"
    strings = bytes(body).split(b"\0")
    end = strings.index(b"")
    assert end % 2 == 0 and bytes(body).endswith(b"\0\0"), body
    return [(strings[i].decode(), strings[i + 1].decode()) for i in range(0, end, 2)]


class RenameHandedToScanner(SandboxTestCase):
    """NT family, a user without administrator rights, a rename for the
    restart: the pair goes to the running scanner's rename list."""

    LIST = r"C:\Tessival\PVXK.REN"
    NOT_ADMIN = "admin=0"

    def setUp(self):
        super().setUp()
        self.box.write_file(r"C:\data\old.txt", "old")
        self.box.write_file(r"C:\Tessival\keep.txt", "")
        self.box.reg_add(r"HKLM\Software\Tessival\Common\Paths", "Common", r"C:\Tessival")
        standin.install_service(self.box)
        self.addCleanup(standin.remove_service, self.box)
        standin.start_service(self.box)

    def rename(self, pair):
        return run_probe(self.box, "rename", pair, probes=self.NOT_ADMIN)

    def test_list_holds_exactly_the_last_pair(self):
        first = self.rename("C:\\data\\old.txt|C:\\data\\new.txt")
        self.assertEqual(first.output, ["rename=1"])
        self.assertEqual(first.trace, [
            "[QRTK - AddFileToAutomaticRenameList]: System is NT.",
            "[QRTK - AddFileToAutomaticRenameList]: User is not admin.",
            "[QRTK - AddFileToAutomaticRenameList]: Portiva is loaded and can be used for renaming.",
            "[QRTK - AddFileToAutomaticRenameList]: Portiva will do the renaming."])
        self.assertEqual(read_rename_list(self.box.read_file(self.LIST)), [("C:\\data\\old.txt", "C:\\data\\new.txt")])
        self.assertEqual(self.rename("C:\\a.txt|C:\\b.txt").output, ["rename=1"])
        self.assertEqual(read_rename_list(self.box.read_file(self.LIST)), [("C:\\a.txt", "C:\\b.txt")])

    def test_every_failure_is_reported_alike(self):
        self.box.reg_delete_key(r"HKLM\Software\Tessival\Common\Paths")
        res = self.rename("C:\\data\\old.txt|C:\\data\\new.txt")
        self.assertEqual(res.output, ["rename=0"])
        self.assertEqual(res.trace[-1], "[QRTK - AddFileToAutomaticRenameList]: Portiva cannot do the renaming.")
        self.assertFalse(self.box.exists(self.LIST))
        # A scanner that is not loaded takes nothing.
        self.box.reg_add(r"HKLM\Software\Tessival\Common\Paths", "Common", r"C:\Tessival")
        standin.set_service_state(self.box, standin.PAUSED)
        res = self.rename("C:\\data\\old.txt|C:\\data\\new.txt")
        self.assertEqual(res.output, ["rename=0"])
        self.assertEqual(res.trace[-1],
                         "[QRTK - AddFileToAutomaticRenameList]: No admin rights, no PV -> No renaming at reboot.")


if __name__ == "__main__":
    unittest.main()
