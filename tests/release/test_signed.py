"""The program of this tree's architecture, signed the way a release is
signed, verifies against its certificate and still starts under Wine."""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from sandbox import PROGRAM, SandboxTestCase  # noqa: E402
from throwaway_signer import make_signer, verify  # noqa: E402

SIGN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign")


class SignedProgram(SandboxTestCase):
    def test_signed_program_verifies_and_runs(self):
        key, cert = make_signer(os.path.join(self.box.prefix, "signer"), "Ravlokfix test signer")
        program = os.path.join(self.box.drive_c, "signed", "Ravlokfix.exe")
        os.makedirs(os.path.dirname(program))
        shutil.copyfile(PROGRAM, program)
        subprocess.run([SIGN, key, cert, program], check=True)

        verdict = verify(program, cert)
        self.assertEqual(verdict.returncode, 0, verdict.stdout)
        self.assertIn("Message digest algorithm  : SHA256", verdict.stdout)
        self.assertIn("Signature verification: ok", verdict.stdout)

        res = self.box.run_program("/VER", program=program)
        self.assertEqual(res.code, 0, res.stdout)
        self.assertEqual(res.stdout, "Ravlokfix v1.00.1\n")


if __name__ == "__main__":
    unittest.main()
