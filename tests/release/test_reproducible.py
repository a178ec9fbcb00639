"""The release of the committed source (HEAD): scripts/release run in two
fresh clones, in folders of different paths, one after the other, the second
under another time zone and file-creation mask, gives the same programs and
the same zip byte for byte. A signed release verifies against its certificate
and is the unsigned one plus a signature. Runs no Windows code."""

import calendar
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import pefile

from throwaway_signer import make_signer, verify

SOURCE = os.environ.get("RAVLOK_SOURCE_DIR",
                        os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
NAME = "ravlokfix-1.00.1"
# Each program and the machine type it must be.
PROGRAMS = {"Ravlokfix.exe": 0x14C, "x64/Ravlokfix.exe": 0x8664}
TEXTS = ("LICENSE.txt", "README.txt", "SHA256SUMS")
FILES = {*PROGRAMS, *TEXTS}


def git(folder, *args):
    return subprocess.run(["git", "-C", folder, *args], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.strip()


def clone_head(folder):
    """A fresh clone holding only the source's HEAD commit."""
    os.makedirs(folder)
    git(folder, "init", "-q")
    git(folder, "fetch", "-q", "--depth", "1", os.path.abspath(SOURCE), "HEAD")
    git(folder, "checkout", "-q", "--detach", "FETCH_HEAD")
    return folder


def release(clone, *args, env=None, umask=None):
    run_env = dict(os.environ)
    run_env.update(env or {})
    return subprocess.run([os.path.join(clone, "scripts", "release"), *args], cwd=clone, env=run_env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          preexec_fn=(lambda: os.umask(umask)) if umask is not None else None)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def first_difference(a, b):
    """The first offset at which a and b differ, or None when they are equal."""
    if a == b:
        return None
    return next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))


def place_in_image(path, offset):
    """What lies at a file offset of a PE image: a named header field, the
    headers, a section, or what follows the last section."""
    image = pefile.PE(path, fast_load=True)
    # Both are 4 bytes wide.
    for header, field in ((image.FILE_HEADER, "TimeDateStamp"), (image.OPTIONAL_HEADER, "CheckSum")):
        at = header.get_field_absolute_offset(field)
        if at <= offset < at + 4:
            return f"header field {field}"
    for section in image.sections:
        start, size = section.PointerToRawData, section.SizeOfRawData
        if start <= offset < start + size:
            name = section.Name.rstrip(b"\0").decode("latin-1")
            return f"section {name} (+{offset - start:#x})"
    if offset < min(s.PointerToRawData for s in image.sections if s.SizeOfRawData):
        return "headers"
    return "after the last section"


def place_in_zip(path, offset):
    """The zip entry (local header and data) or the directory at an offset."""
    with zipfile.ZipFile(path) as archive:
        entries = sorted(archive.infolist(), key=lambda e: e.header_offset)
        directory = archive.start_dir
    if offset >= directory:
        return "central directory"
    before = [e for e in entries if e.header_offset <= offset]
    return f"entry {before[-1].filename}" if before else "start"


def sha256(path):
    return hashlib.sha256(read(path)).hexdigest()


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="release-", dir=os.environ.get("RAVLOK_TEST_ROOT") or None)
        cls.first = clone_head(os.path.join(cls.root, "a"))
        cls.second = clone_head(os.path.join(cls.root, "second", "a-clone-at-a-longer-path"))
        cls.commit_time = int(git(cls.first, "log", "-1", "--format=%ct"))
        for clone, env, umask in ((cls.first, {}, None),
                                  (cls.second, {"TZ": "Pacific/Kiritimati", "SOURCE_DATE_EPOCH": "1",
                                                "LC_ALL": "C"}, 0o077)):
            run = release(clone, env=env, umask=umask)
            if run.returncode != 0:
                raise AssertionError(f"scripts/release failed in {clone}:\n{run.stdout}")
        # The first release as it was: the signing case below makes another.
        cls.one = os.path.join(cls.root, "one")
        shutil.copytree(os.path.join(cls.first, "dist"), cls.one)
        cls.other = os.path.join(cls.second, "dist")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_programs_are_the_same_bytes(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                one, other = (os.path.join(d, NAME, program) for d in (self.one, self.other))
                at = first_difference(read(one), read(other))
                if at is not None:
                    self.fail(f"{program} differs from offset {at:#x} on, in {place_in_image(one, at)}")

    def test_zip_is_the_same_bytes(self):
        one, other = (os.path.join(d, f"{NAME}.zip") for d in (self.one, self.other))
        at = first_difference(read(one), read(other))
        if at is not None:
            self.fail(f"the zip differs from offset {at:#x} on, in {place_in_zip(one, at)}")

    def test_release_holds_the_programs_texts_and_checksums(self):
        folder = os.path.join(self.one, NAME)
        found = {os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs}
        self.assertEqual(found, FILES)
        for program, machine in PROGRAMS.items():
            with self.subTest(program=program):
                image = pefile.PE(os.path.join(folder, program), fast_load=True)
                self.assertEqual(image.FILE_HEADER.Machine, machine)
        for text in TEXTS:
            with self.subTest(text=text):
                data = read(os.path.join(folder, text))
                self.assertTrue(data.endswith(b"\r\n"))
                self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "a line without CR LF")
                data.decode("ascii")
        readme = read(os.path.join(folder, "README.txt")).decode("ascii")
        self.assertIn(git(self.first, "rev-parse", "HEAD"), readme)
        self.assertIsNone(re.search("@[A-Z]+@", readme), "a placeholder was left")
        self.check_checksums(folder)
        self.check_zip(folder)

    def check_checksums(self, folder):
        sums = read(os.path.join(folder, "SHA256SUMS")).decode("ascii").splitlines()
        expected = [f"{sha256(os.path.join(folder, f))}  {f}" for f in sorted(FILES - {"SHA256SUMS"})]
        self.assertEqual(sums, expected)

    def check_zip(self, folder):
        """The zip holds the folder's files, and only the commit's time."""
        with zipfile.ZipFile(os.path.join(os.path.dirname(folder), f"{NAME}.zip")) as archive:
            self.assertEqual(archive.namelist(), sorted(f"{NAME}/{f}" for f in FILES))
            for entry in archive.infolist():
                with self.subTest(entry=entry.filename):
                    self.assertEqual(archive.read(entry), read(os.path.join(folder, entry.filename[len(NAME) + 1:])))
                    self.assertEqual(calendar.timegm((*entry.date_time, 0, 0, 0)), self.commit_time // 2 * 2)

    def test_refuses_a_tree_with_uncommitted_changes(self):
        zip_path = os.path.join(self.other, f"{NAME}.zip")
        before = read(zip_path)
        cases = {"changed file": ("CMakeLists.txt", "a"), "new file": ("not-committed.txt", "w")}
        for case, (name, mode) in cases.items():
            with self.subTest(case=case):
                with open(os.path.join(self.second, name), mode) as f:
                    f.write("# not committed\n")
                try:
                    run = release(self.second)
                finally:
                    git(self.second, "checkout", "-q", "--", ".")
                    git(self.second, "clean", "-q", "-f")
                self.assertNotEqual(run.returncode, 0, run.stdout)
                self.assertIn("not committed", run.stdout)
                self.assertIn(name, run.stdout)
                self.assertEqual(read(zip_path), before, "a refused release touched dist/")

    def test_signed_release_verifies_and_is_the_unsigned_one_plus_a_signature(self):
        key, cert = make_signer(os.path.join(self.root, "signer"), "Ravlokfix release signer")
        _, stranger = make_signer(os.path.join(self.root, "signer"), "Someone else")
        run = release(self.first, "--sign", key, cert)
        self.assertEqual(run.returncode, 0, run.stdout)
        folder = os.path.join(self.first, "dist", NAME)
        for program in PROGRAMS:
            with self.subTest(program=program):
                signed = os.path.join(folder, program)
                verdict = verify(signed, cert)
                self.assertEqual(verdict.returncode, 0, verdict.stdout)
                self.assertIn("Message digest algorithm  : SHA256", verdict.stdout)
                self.assertNotEqual(verify(signed, stranger).returncode, 0, "verified against a stranger")
                # Without its signature the program is the reproducible one.
                stripped = os.path.join(self.root, "stripped.exe")
                subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped],
                               check=True, stdout=subprocess.DEVNULL)
                unsigned = os.path.join(self.one, NAME, program)
                at = first_difference(read(stripped), read(unsigned))
                if at is not None:
                    self.fail(f"unsigned {program} differs from offset {at:#x} on, in {place_in_image(unsigned, at)}")
                os.remove(stripped)
        # The checksums and the zip are made after signing.
        self.check_checksums(folder)
        self.check_zip(folder)


if __name__ == "__main__":
    unittest.main()
