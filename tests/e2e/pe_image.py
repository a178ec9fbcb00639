"""Reads what the tests need from a PE image, 32-bit (PE32) or 64-bit (PE32+):
header fields, sections, imports and resources."""

import struct

IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_WRITE = 0x80000000
DLLCHARACTERISTICS_HIGH_ENTROPY_VA = 0x0020
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
        assert self.magic in (0x10B, 0x20B), "not a PE32 or PE32+ image"
        self.is_64_bit = self.magic == 0x20B
        # PE32+ widens the image base and the four stack and heap sizes.
        self.os_version = struct.unpack_from("<HH", d, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", d, opt + 48)
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        self.dll_characteristics = struct.unpack_from("<H", d, opt + 70)[0]
        dirs = opt + (112 if self.is_64_bit else 96)
        ndirs = struct.unpack_from("<I", d, dirs - 4)[0]
        self.directories = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(ndirs)]
        self.thunk_size = 8 if self.is_64_bit else 4
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

    def _names(self, thunks_rva):
        found, at = [], self.offset(thunks_rva)
        by_ordinal = 1 << (8 * self.thunk_size - 1)
        while (thunk := int.from_bytes(self.data[at:at + self.thunk_size], "little")) != 0:
            found.append(f"#{thunk & 0xFFFF}" if thunk & by_ordinal else self.cstring((thunk & 0x7FFFFFFF) + 2))
            at += self.thunk_size
        return found

    def imports(self):
        """{DLL NAME: [imported function names]} of the normal and the delay-load import tables."""
        result = {}
        rva, _ = self.directories[1]
        at = self.offset(rva) if rva else None
        while at is not None:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                break
            result.setdefault(self.cstring(name).upper(), []).extend(self._names(lookup or first))
            at += 20
        rva, _ = self.directories[13] if len(self.directories) > 13 else (0, 0)
        at = self.offset(rva) if rva else None
        while at is not None:
            _, name, _, _, lookup = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                break
            result.setdefault(self.cstring(name).upper(), []).extend(self._names(lookup))
            at += 32
        return result

    def resource_types(self):
        rva, _ = self.directories[2]
        if rva == 0:
            return []
        at = self.offset(rva)
        named, ids = struct.unpack_from("<HH", self.data, at + 12)
        return [struct.unpack_from("<I", self.data, at + 16 + 8 * i)[0] for i in range(named + ids)]
