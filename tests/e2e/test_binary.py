"""What the built program is, as a file: a hardened console program of this
tree's architecture that imports only what every Windows system it is for
exports, with its version and manifest. Reads the image only: runs on any
machine."""

import csv
import os
import unittest

from pe_image import (DLLCHARACTERISTICS_DYNAMIC_BASE, DLLCHARACTERISTICS_HIGH_ENTROPY_VA,
                      DLLCHARACTERISTICS_NX_COMPAT, IMAGE_SCN_MEM_EXECUTE, IMAGE_SCN_MEM_WRITE, PeImage)
from sandbox import ARCH, PROGRAM

# Machine type and the manifest's processor architecture of each build.
MACHINE = {"x86": 0x14C, "x64": 0x8664}
MANIFEST_ARCH = {"x86": "x86", "x64": "amd64"}

RT_VERSION, RT_MANIFEST = 16, 24

# The oldest systems each program is for: the 32-bit one loads on Windows 95
# (with its C runtime DLL) and NT 4.0, the 64-bit one on 64-bit XP (NT 5.2).
# A loader refuses an image that asks for a later version.
OLDEST_VERSION = {"x86": (4, 0), "x64": (5, 2)}
NT_RELEASES = ["NT 3.51", "NT 4.0", "2000", "XP", "XP x64", "Vista", "7", "8", "10"]
OLDEST_NT = {"x86": "NT 4.0", "x64": "XP x64"}
# On the 9x family a function must be there from Windows 95 on, or be a stub
# that the program calls on the NT family only. The 64-bit program has no 9x.
ACCEPTED_9X = {"x86": {"95", "stub: NT only"}, "x64": None}

EXPORTS_TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "imports.csv")


def read_exports_table(path=EXPORTS_TABLE):
    """{(DLL, function): row} of the table of what the supported systems export."""
    with open(path, newline="") as f:
        rows = csv.DictReader(line for line in f if not line.startswith("#"))
        return {(row["dll"].upper(), row["function"]): row for row in rows}


def unsupported_imports(imports, table, arch):
    """'DLL!function: reason' for every import that some supported system of
    the architecture does not export."""
    problems = []
    for dll, names in sorted(imports.items()):
        for name in sorted(names):
            row = table.get((dll, name))
            if row is None:
                problems.append(f"{dll}!{name}: not in {os.path.basename(EXPORTS_TABLE)}")
                continue
            if row["nt"] not in NT_RELEASES:
                problems.append(f"{dll}!{name}: unknown NT release {row['nt']!r}")
            elif NT_RELEASES.index(row["nt"]) > NT_RELEASES.index(OLDEST_NT[arch]):
                problems.append(f"{dll}!{name}: needs {row['nt']}, the program is for {OLDEST_NT[arch]}")
            if ACCEPTED_9X[arch] is not None and row["win9x"] not in ACCEPTED_9X[arch]:
                problems.append(f"{dll}!{name}: 9x family {row['win9x']!r}, the program is for Windows 95")
    return problems


class ProgramImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = PeImage(PROGRAM)

    def test_is_a_console_program_of_its_architecture(self):
        self.assertEqual(self.image.machine, MACHINE[ARCH])
        self.assertEqual(self.image.is_64_bit, ARCH == "x64")
        self.assertEqual(self.image.subsystem, 3)

    def test_is_dep_and_aslr_compatible_with_no_writable_code(self):
        flags = self.image.dll_characteristics
        self.assertTrue(flags & DLLCHARACTERISTICS_NX_COMPAT)
        self.assertTrue(flags & DLLCHARACTERISTICS_DYNAMIC_BASE)
        self.assertTrue(any(name == ".reloc" for name, *_ in self.image.sections), "ASLR needs relocations")
        self.assertEqual(bool(flags & DLLCHARACTERISTICS_HIGH_ENTROPY_VA), ARCH == "x64")
        for name, _, _, _, _, section_flags in self.image.sections:
            with self.subTest(section=name):
                self.assertFalse(section_flags & IMAGE_SCN_MEM_WRITE and section_flags & IMAGE_SCN_MEM_EXECUTE)

    def test_imports_only_system_libraries_every_windows_has(self):
        imports = self.image.imports()
        # The reader itself works: it sees what the program does import.
        self.assertIn("OpenProcess", imports.get("KERNEL32.DLL", []))
        self.assertIn("AdjustTokenPrivileges", imports.get("ADVAPI32.DLL", []))
        self.assertLessEqual(set(imports), {"KERNEL32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"})
        # The optional process libraries are looked up at run time, so that
        # the program starts on systems that lack them.
        run_time_only = {"CreateToolhelp32Snapshot", "Process32First", "Process32Next", "Process32FirstW",
                         "Process32NextW", "Module32First", "Module32Next", "Thread32First", "Thread32Next",
                         "Heap32ListFirst", "Heap32ListNext", "Heap32First", "Heap32Next",
                         "Toolhelp32ReadProcessMemory", "EnumProcesses", "EnumProcessModules",
                         "GetModuleFileNameExA", "GetModuleBaseNameA", "GetModuleFileNameExW",
                         "GetModuleBaseNameW", "QueryFullProcessImageNameW", "GetSystemWindowsDirectoryW",
                         "VDMEnumTaskWOWEx", "IsWow64Process", "GetSystemWow64DirectoryA", "GetProcessTimes",
                         "NtSetInformationFile", "SetFileInformationByHandle", "GetFileInformationByHandleEx"}
        for dll, names in imports.items():
            for name in names:
                with self.subTest(dll=dll, name=name):
                    self.assertNotIn(name, run_time_only)
                    # Newer systems also export the PSAPI functions from KERNEL32.DLL.
                    self.assertFalse(name.startswith("K32"))

    def test_imports_only_what_every_supported_system_exports(self):
        problems = unsupported_imports(self.image.imports(), read_exports_table(), ARCH)
        self.assertEqual(problems, [], "imports that a supported system lacks:\n  " + "\n  ".join(problems))

    def test_asks_for_no_later_system_than_the_oldest_supported(self):
        self.assertEqual(self.image.os_version, OLDEST_VERSION[ARCH])
        self.assertEqual(self.image.subsystem_version, OLDEST_VERSION[ARCH])

    def test_carries_version_and_manifest(self):
        self.assertIn(RT_VERSION, self.image.resource_types())
        self.assertIn(RT_MANIFEST, self.image.resource_types())
        self.assertIn("1.00.1".encode("utf-16-le"), self.image.data)
        self.assertIn(b'requestedExecutionLevel level="highestAvailable"', self.image.data)
        # A manifest of another architecture stops the program with a side-by-side error.
        self.assertIn(f'processorArchitecture="{MANIFEST_ARCH[ARCH]}"'.encode(), self.image.data)


class ExportsCheck(unittest.TestCase):
    """The check itself, on made-up imports: it names each one that a
    supported system of the architecture would refuse."""

    TABLE = {("KERNEL32.DLL", name): {"win9x": win9x, "nt": nt} for name, win9x, nt in [
        ("GetTickCount", "95", "NT 3.51"),
        ("MoveFileExA", "stub: NT only", "NT 3.51"),
        ("CreateSemaphoreW", "stub", "NT 3.51"),
        ("GetShortPathNameA", "95", "NT 4.0"),
        ("GetLongPathNameA", "98", "2000"),
        ("AddVectoredExceptionHandler", "none", "XP"),
        ("RtlVirtualUnwind", "none", "XP x64"),
        ("GetTickCount64", "none", "Vista"),
        ("Typo", "95", "NT4"),
    ]}

    def test_names_each_import_a_supported_system_lacks(self):
        cases = [
            ("x86", "GetTickCount", []),
            ("x86", "MoveFileExA", []),
            ("x86", "CreateSemaphoreW", ["9x family 'stub'"]),
            ("x86", "GetShortPathNameA", []),
            ("x86", "GetLongPathNameA", ["needs 2000", "9x family '98'"]),
            ("x86", "AddVectoredExceptionHandler", ["needs XP", "9x family 'none'"]),
            ("x86", "GetTickCount64", ["needs Vista", "9x family 'none'"]),
            ("x86", "GetHandleInformation", ["not in imports.csv"]),
            ("x64", "AddVectoredExceptionHandler", []),
            ("x64", "CreateSemaphoreW", []),
            ("x64", "RtlVirtualUnwind", []),
            ("x64", "GetTickCount64", ["needs Vista"]),
            ("x64", "GetHandleInformation", ["not in imports.csv"]),
            ("x64", "Typo", ["unknown NT release 'NT4'"]),
        ]
        for arch, name, expected in cases:
            with self.subTest(arch=arch, name=name):
                problems = unsupported_imports({"KERNEL32.DLL": [name]}, self.TABLE, arch)
                self.assertEqual(len(problems), len(expected), problems)
                for problem, part in zip(problems, expected):
                    self.assertTrue(problem.startswith(f"KERNEL32.DLL!{name}: "), problem)
                    self.assertIn(part, problem)


if __name__ == "__main__":
    unittest.main()
