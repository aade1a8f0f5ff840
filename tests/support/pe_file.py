"""Reads a PE file (a Windows executable) from its bytes: headers, sections,
resources and imports. Used by the resource check and by make test's self-check."""
import struct


class PeFile:
    """Just enough of a PE file: headers, sections, resources and imports."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('not an MZ executable')
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from('<HHIIIHH', data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from('<H', data, optional)[0]
        self.subsystem = struct.unpack_from('<H', data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from('<II', data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, address, raw_size, raw_offset = struct.unpack_from('<8sIIII', data, table + 40 * i)
            self.sections.append((address, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw_offset in self.sections:
            if address <= rva < address + size:
                return raw_offset + rva - address
        raise ValueError('address %#x is in no section' % rva)

    def bytes_at(self, rva, size):
        start = self.offset(rva)
        return self.data[start:start + size]

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii')

    def resources(self):
        """{(type, name): [(language, code page, bytes)]}, names as ints or strings."""
        root_rva = self.directories[2][0]
        root = self.offset(root_rva)
        found = {}

        def entries(directory):
            named, numbered = struct.unpack_from('<HH', self.data, directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from('<II', self.data, directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = root + (name & 0x7FFFFFFF)
                    length = struct.unpack_from('<H', self.data, at)[0]
                    name = self.data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
                yield name, target

        for type_id, type_dir in entries(root):
            for name, name_dir in entries(root + (type_dir & 0x7FFFFFFF)):
                for language, leaf in entries(root + (name_dir & 0x7FFFFFFF)):
                    self.assert_leaf(leaf)
                    rva, size, code_page, _ = struct.unpack_from('<IIII', self.data, root + leaf)
                    found.setdefault((type_id, name), []).append(
                        (language, code_page, self.bytes_at(rva, size)))
        return found

    @staticmethod
    def assert_leaf(leaf):
        if leaf & 0x80000000:
            raise ValueError('resource tree deeper than type/name/language')

    def imports(self):
        """{dll name in lower case: set of imported function names}."""
        rva = self.directories[1][0]
        found = {}
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from('<IIIII', self.data, at)
            if name == 0:
                return found
            functions = found.setdefault(self.c_string(name).lower(), set())
            entry_size, by_ordinal = (4, 0x80000000) if self.magic == 0x10B else (8, 1 << 63)
            table = self.offset(lookup or thunks)
            while True:
                value = struct.unpack_from('<Q' if entry_size == 8 else '<I', self.data, table)[0]
                if value == 0:
                    break
                if not value & by_ordinal:
                    functions.add(self.c_string((value & 0x7FFFFFFF) + 2))
                table += entry_size
            at += 20
