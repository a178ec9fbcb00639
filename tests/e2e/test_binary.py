"""What the built program is, as a file: a hardened console program of this
tree's architecture that imports only what every Windows system it is for
exports, with its version and manifest. Reads the image only: runs on any
machine."""

import csv
import os
import unittest
from xml.etree import ElementTree

import pefile

from sandbox import ARCH, PROGRAM

# Machine type and the manifest's processor architecture of each build.
MACHINE = {"x86": 0x14C, "x64": 0x8664}
MANIFEST_ARCH = {"x86": "x86", "x64": "amd64"}

RT_VERSION, RT_MANIFEST = pefile.RESOURCE_TYPE["RT_VERSION"], pefile.RESOURCE_TYPE["RT_MANIFEST"]
VERSION = "1.00.1"
# The same version as the version resource's and the manifest's numbers.
VERSION_NUMBERS = (1, 0, 0, 1)

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


def imports_of(image):
    """{DLL NAME: [imported function names]} of the normal and the delay-load
    import tables; an import by ordinal is named #ordinal."""
    result = {}
    for table in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT"):
        for entry in getattr(image, table, []):
            names = result.setdefault(entry.dll.decode("latin-1").upper(), [])
            names.extend(f"#{i.ordinal}" if i.import_by_ordinal else i.name.decode("latin-1") for i in entry.imports)
    return result


def section_name(section):
    return section.Name.rstrip(b"\0").decode("latin-1")


def resource_data(image, type_id):
    """The bytes of each resource of a type, in every language."""
    found = []
    for kind in image.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == type_id:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    found.append(image.get_data(language.data.struct.OffsetToData, language.data.struct.Size))
    return found


def local_name(element):
    return element.tag.rpartition("}")[2]


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
        cls.image = pefile.PE(PROGRAM)
        cls.header = cls.image.FILE_HEADER
        cls.optional = cls.image.OPTIONAL_HEADER

    def test_reads_without_a_warning(self):
        # pefile warns where it stops reading a table short: the checks below
        # would then pass on what it left out.
        self.assertEqual(self.image.get_warnings(), [])

    def test_is_a_console_program_of_its_architecture(self):
        self.assertEqual(self.header.Machine, MACHINE[ARCH])
        self.assertEqual(self.image.PE_TYPE, pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS if ARCH == "x64"
                         else pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(self.optional.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])
        self.assertTrue(self.header.IMAGE_FILE_EXECUTABLE_IMAGE)
        self.assertFalse(self.header.IMAGE_FILE_DLL)

    def test_is_terminal_server_aware(self):
        # Otherwise a Remote Desktop Session Host gives the program a
        # per-user copy of the Windows directory: the log and system.ini
        # would be the user's, not the system's.
        self.assertTrue(self.optional.IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)

    def test_is_dep_and_aslr_compatible_with_no_writable_code(self):
        self.assertTrue(self.optional.IMAGE_DLLCHARACTERISTICS_NX_COMPAT)
        self.assertTrue(self.optional.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)
        # ASLR needs relocations.
        self.assertTrue(any(section_name(s) == ".reloc" for s in self.image.sections))
        self.assertFalse(self.header.IMAGE_FILE_RELOCS_STRIPPED)
        relocations = self.optional.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
        self.assertGreater(relocations.Size, 0)
        self.assertEqual(self.optional.IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, ARCH == "x64")
        if ARCH == "x64":
            # Without it the loader keeps the image below 2 GB, whatever the entropy.
            self.assertTrue(self.header.IMAGE_FILE_LARGE_ADDRESS_AWARE)
        for section in self.image.sections:
            with self.subTest(section=section_name(section)):
                self.assertFalse(section.IMAGE_SCN_MEM_WRITE and section.IMAGE_SCN_MEM_EXECUTE)

    def test_imports_only_system_libraries_every_windows_has(self):
        imports = imports_of(self.image)
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
                         "VDMEnumTaskWOWEx", "IsWow64Process", "GetSystemWow64DirectoryA",
                         "GetSystemWow64DirectoryW", "GetProcessTimes", "NtSetInformationFile",
                         "SetFileInformationByHandle", "GetFileInformationByHandleEx"}
        for dll, names in imports.items():
            for name in names:
                with self.subTest(dll=dll, name=name):
                    self.assertNotIn(name, run_time_only)
                    # Newer systems also export the PSAPI functions from KERNEL32.DLL.
                    self.assertFalse(name.startswith("K32"))

    def test_imports_only_what_every_supported_system_exports(self):
        problems = unsupported_imports(imports_of(self.image), read_exports_table(), ARCH)
        self.assertEqual(problems, [], "imports that a supported system lacks:\n  " + "\n  ".join(problems))

    def test_asks_for_no_later_system_than_the_oldest_supported(self):
        optional = self.optional
        self.assertEqual((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion),
                         OLDEST_VERSION[ARCH])
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), OLDEST_VERSION[ARCH])

    def test_carries_its_version(self):
        self.assertEqual(len(resource_data(self.image, RT_VERSION)), 1)
        fixed = self.image.VS_FIXEDFILEINFO[0]
        for most, least in ((fixed.FileVersionMS, fixed.FileVersionLS),
                            (fixed.ProductVersionMS, fixed.ProductVersionLS)):
            self.assertEqual((most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF), VERSION_NUMBERS)
        strings = {}
        for info in self.image.FileInfo[0]:
            for table in getattr(info, "StringTable", []):
                strings.update(table.entries)
        self.assertEqual(strings.get(b"FileVersion"), VERSION.encode())
        self.assertEqual(strings.get(b"ProductVersion"), VERSION.encode())

    def test_carries_its_manifest(self):
        manifests = resource_data(self.image, RT_MANIFEST)
        self.assertEqual(len(manifests), 1)
        manifest = ElementTree.fromstring(manifests[0])
        identity = [e for e in manifest if local_name(e) == "assemblyIdentity"]
        self.assertEqual(len(identity), 1)
        # A manifest of another architecture stops the program with a side-by-side error.
        self.assertEqual(identity[0].get("processorArchitecture"), MANIFEST_ARCH[ARCH])
        self.assertEqual(identity[0].get("version"), ".".join(map(str, VERSION_NUMBERS)))
        levels = [e.get("level") for e in manifest.iter() if local_name(e) == "requestedExecutionLevel"]
        self.assertEqual(levels, ["highestAvailable"])


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
