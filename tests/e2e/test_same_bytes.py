"""The 32-bit and the 64-bit program write the same bytes for the same input:
the trace log, the restart file WININIT.INI and the scanner's rename list.
Each suite compares what its build writes with the files in same_bytes/, so
two suites that pass have written identical bytes. (The device requests are
compared byte for byte by test_scanner, in each suite alike.)"""

import os
import unittest

from sandbox import ARCH, TEST_BIN, SandboxTestCase

EXPECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "same_bytes")
FOLDER = "C:\\same-bytes"
SCANNER_DIR = "C:\\Tessival"
# The rename list's header holds the tick count and the processor (values of
# the system, not of the build) around the body's checksum.
HEADER_FIELDS_OF_THE_SYSTEM = [(0, 8), (12, 16)]


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


class SameBytes(SandboxTestCase):
    def assert_same_bytes(self, name, written):
        with open(os.path.join(EXPECTED, name), "rb") as f:
            expected = f.read()
        if written != expected:
            at = first_difference(written, expected)
            self.fail(f"{ARCH} build: {name} differs first at offset {at}: "
                      f"{written[at:at + 16]!r} instead of {expected[at:at + 16]!r}")

    def test_files_written_are_those_of_either_build(self):
        self.box.write_file(SCANNER_DIR + "\\keep.txt", "")
        self.box.reg_add(r"HKLM\Software\Tessival\Common\Paths", "Common", SCANNER_DIR)
        self.box.write_file(FOLDER + "\\keep.txt", "")
        res = self.box.wine(os.path.join(TEST_BIN, "same_bytes_probe.exe"), FOLDER)
        self.assertEqual(res.stdout.strip(), "ok")

        self.assert_same_bytes("trace.log", self.box.read_file(FOLDER + "\\trace.log"))
        self.assert_same_bytes("WININIT.INI", self.box.read_file(FOLDER + "\\WININIT.INI"))
        rename_list = bytearray(self.box.read_file(SCANNER_DIR + "\\PVXK.REN"))
        for start, end in HEADER_FIELDS_OF_THE_SYSTEM:
            rename_list[start:end] = bytes(end - start)
        self.assert_same_bytes("PVXK.REN", bytes(rename_list))


if __name__ == "__main__":
    unittest.main()
