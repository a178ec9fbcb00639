"""Reads what the tests need from a 32-bit PE image: header flags, sections,
imports and resources."""

import struct

IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
DLLCHARACTERISTICS_NX_COMPAT = 0x0100


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        assert d[:2] == b"MZ"
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0"
        self.machine, nsections, _, _, _, opt_size, self.characteristics = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        assert self.magic == 0x10B, "not a 32-bit image"
        self.dll_characteristics = struct.unpack_from("<H", d, opt + 70)[0]
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        ndirs = struct.unpack_from("<I", d, opt + 92)[0]
        self.directories = [struct.unpack_from("<II", d, opt + 96 + 8 * i) for i in range(ndirs)]
        self.sections = []
        at = opt + opt_size
        for _ in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", d, at)
            flags = struct.unpack_from("<I", d, at + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), va, vsize, rawptr, rawsize, flags))
            at += 40

    def offset(self, rva):
        for _, va, vsize, rawptr, rawsize, _ in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                return rawptr + rva - va
        raise ValueError(hex(rva))

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        """{dll name: [imported function names]}"""
        rva, size = self.directories[1]
        result = {}
        at = self.offset(rva)
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from("<IIIII", self.data, at)
            if name_rva == 0:
                break
            names = []
            entry = self.offset(lookup or thunk)
            while True:
                value = struct.unpack_from("<I", self.data, entry)[0]
                if value == 0:
                    break
                names.append(f"#{value & 0xFFFF}" if value & 0x80000000 else self.cstring(value + 2))
                entry += 4
            result[self.cstring(name_rva)] = names
            at += 20
        return result

    def resource_types(self):
        rva, _ = self.directories[2]
        if rva == 0:
            return []
        at = self.offset(rva)
        named, ids = struct.unpack_from("<HH", self.data, at + 12)
        return [struct.unpack_from("<I", self.data, at + 16 + 8 * i)[0] for i in range(named + ids)]
