"""What the built program is, as a file: a hardened 32-bit console program
that imports only what every Windows system has, with its version and manifest."""

import unittest

from pe_image import (DLLCHARACTERISTICS_DYNAMIC_BASE, DLLCHARACTERISTICS_NX_COMPAT, IMAGE_SCN_MEM_EXECUTE,
                      IMAGE_SCN_MEM_WRITE, PeImage)
from sandbox import PROGRAM

RT_VERSION, RT_MANIFEST = 16, 24


class ProgramImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = PeImage(PROGRAM)

    def test_is_a_32_bit_console_program(self):
        self.assertEqual(self.image.machine, 0x14C)
        self.assertEqual(self.image.subsystem, 3)

    def test_is_dep_and_aslr_compatible_with_no_writable_code(self):
        flags = self.image.dll_characteristics
        self.assertTrue(flags & DLLCHARACTERISTICS_NX_COMPAT)
        self.assertTrue(flags & DLLCHARACTERISTICS_DYNAMIC_BASE)
        self.assertTrue(any(name == ".reloc" for name, *_ in self.image.sections), "ASLR needs relocations")
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
                         "GetModuleFileNameExA", "GetModuleBaseNameA", "VDMEnumTaskWOWEx", "IsWow64Process",
                         "GetSystemWow64DirectoryA", "GetProcessTimes",
                         "NtSetInformationFile", "SetFileInformationByHandle", "GetFileInformationByHandleEx"}
        for dll, names in imports.items():
            for name in names:
                with self.subTest(dll=dll, name=name):
                    self.assertNotIn(name, run_time_only)
                    # Newer systems also export the PSAPI functions from KERNEL32.DLL.
                    self.assertFalse(name.startswith("K32"))

    def test_carries_version_and_manifest(self):
        self.assertIn(RT_VERSION, self.image.resource_types())
        self.assertIn(RT_MANIFEST, self.image.resource_types())
        self.assertIn("1.00.1".encode("utf-16-le"), self.image.data)
        self.assertIn(b'requestedExecutionLevel level="highestAvailable"', self.image.data)


if __name__ == "__main__":
    unittest.main()
