#!/usr/bin/env python3
"""Checks the resources compiled into the built program by reading the
executable's bytes: the dialog template and its controls, the menu, the
icon, the version block, the manifest, their language and code page, and
the system calls the program imports.

    python3 tests/resources_test.py path/to/SoundTestApp.exe [--64-bit]

The shipped program is a 32-bit (PE32, i386) GUI program. --64-bit checks the
64-bit build of the same sources instead, which some hosts test under Wine.
"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

from pe_file import PeFile  # tests/support, on PYTHONPATH

RT_ICON, RT_DIALOG, RT_MENU, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 4, 14, 16, 24
SERBIAN_LATIN = 0x081A

EXE_PATH = None
MACHINE_I386, MACHINE_AMD64, PE32_MAGIC, PE32_PLUS_MAGIC = 0x14C, 0x8664, 0x10B, 0x20B
EXPECTED_MACHINE = (MACHINE_I386, PE32_MAGIC)
# The architecture the manifest names, for the program and its common controls.
EXPECTED_MANIFEST_ARCH = 'X86'

# DLLs that every Windows installation provides. Anything else would have to
# be shipped beside the program, and the program ships alone.
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comctl32.dll', 'comdlg32.dll',
               'advapi32.dll', 'shell32.dll', 'ole32.dll', 'oleaut32.dll', 'msvcrt.dll',
               'winmm.dll', 'msacm32.dll', 'uuid.dll', 'avrt.dll', 'ntdll.dll'}


class Reader:
    """Reads little-endian fields and zero-terminated UTF-16 strings in turn."""

    def __init__(self, data, position=0):
        self.data, self.position = data, position

    def take(self, fmt):
        values = struct.unpack_from('<' + fmt, self.data, self.position)
        self.position += struct.calcsize('<' + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.position
        while self.data[end:end + 2] != b'\0\0':
            end += 2
        value = self.data[self.position:end].decode('utf-16-le')
        self.position = end + 2
        return value

    def name_or_atom(self):
        """A string, or an atom/ordinal as ('atom', value), or '' for none."""
        first = struct.unpack_from('<H', self.data, self.position)[0]
        if first == 0xFFFF:
            self.position += 2
            return ('atom', self.take('H'))
        return self.text()

    def align(self, boundary=4):
        self.position += -self.position % boundary


def parse_dialog(data):
    r = Reader(data)
    dialog = dict(zip(('version', 'signature', 'help_id', 'ex_style', 'style', 'count',
                       'x', 'y', 'width', 'height'), r.take('HHIIIHhhhh')))
    dialog['menu'] = r.name_or_atom()
    dialog['class'] = r.name_or_atom()
    dialog['caption'] = r.text()
    dialog['font'] = r.take('HHBB') + (r.text(),)
    controls = []
    for _ in range(dialog['count']):
        r.align()
        help_id, ex_style, style, x, y, width, height, control_id = r.take('IIIhhhhI')
        window_class = r.name_or_atom()
        text = r.name_or_atom()
        extra = r.take('H')
        controls.append((control_id, window_class, text, style, ex_style, x, y, width, height,
                         help_id, extra))
    dialog['controls'] = controls
    dialog['unread'] = data[r.position:]
    return dialog


def parse_version_block(data, position=0):
    """One version-resource block: (key, value bytes, is text, children)."""
    length, value_length, is_text = struct.unpack_from('<HHH', data, position)
    r = Reader(data, position + 6)
    key = r.text()
    r.align()
    value_size = value_length * 2 if is_text else value_length
    value = data[r.position:r.position + value_size]
    r.position += value_size
    r.align()
    children = []
    while r.position < position + length:
        child, child_length = parse_version_block(data, r.position)
        children.append(child)
        r.position += child_length
        r.align()
    return (key, value, is_text, children), length


class ProgramResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EXE_PATH, 'rb') as exe:
            cls.pe = PeFile(exe.read())
        cls.resources = cls.pe.resources()

    def only(self, type_id, name):
        """The one language version of a resource; it must be Serbian, code page 0."""
        self.assertIn((type_id, name), self.resources)
        versions = self.resources[(type_id, name)]
        self.assertEqual(len(versions), 1)
        language, code_page, data = versions[0]
        self.assertEqual(language, SERBIAN_LATIN)
        self.assertEqual(code_page, 0)
        return data

    def test_windows_gui_program_for_its_machine(self):
        self.assertEqual(self.pe.subsystem, 2)
        self.assertEqual((self.pe.machine, self.pe.magic), EXPECTED_MACHINE)

    def test_needs_no_dll_beside_it(self):
        self.assertEqual(set(self.pe.imports()) - SYSTEM_DLLS, set())

    def test_exactly_the_five_resources_in_serbian_with_code_page_0(self):
        self.assertEqual(sorted(self.resources, key=str), sorted([
            (RT_DIALOG, 1000), (RT_MENU, 10000), (RT_GROUP_ICON, 'MAIN_ICO'),
            (RT_ICON, 1), (RT_VERSION, 1), (RT_MANIFEST, 1)], key=str))
        for versions in self.resources.values():
            self.assertEqual([(language, code_page) for language, code_page, _ in versions],
                             [(SERBIAN_LATIN, 0)])

    def test_dialog_template(self):
        dialog = parse_dialog(self.only(RT_DIALOG, 1000))
        self.assertEqual((dialog['version'], dialog['signature'], dialog['help_id']), (1, 0xFFFF, 0))
        self.assertEqual(dialog['ex_style'], 0x80)
        self.assertEqual(dialog['style'], 0x10CF0840)
        self.assertEqual((dialog['x'], dialog['y'], dialog['width'], dialog['height']), (6, 6, 312, 157))
        self.assertEqual(dialog['menu'], ('atom', 10000))
        self.assertEqual(dialog['class'], '')
        self.assertEqual(dialog['caption'], 'Sound module test App')
        self.assertEqual(dialog['font'], (8, 400, 0, 0, 'MS Sans Serif'))
        self.assertEqual(dialog['count'], 11)
        self.assertEqual(dialog['unread'], b'')

    def test_dialog_controls_in_order(self):
        button, edit, static = ('atom', 0x80), ('atom', 0x81), ('atom', 0x82)
        trackbar = 'msctls_trackbar32'
        expected = [
            (1001, trackbar, '', 0x50000000, 0, 6, 55, 254, 12),
            (1002, static, 'Trenutni fajl:', 0x50000000, 0, 3, 6, 154, 9),
            (1003, edit, '', 0x58010000, 0x200, 3, 18, 304, 12),
            (1004, static, 'Volume', 0x50000000, 0, 10, 43, 97, 9),
            (1005, static, 'Balans (nije uradjeno)', 0x50000000, 0, 10, 83, 97, 9),
            (1006, trackbar, '', 0x50000000, 0, 6, 95, 254, 12),
            (1007, button, 'Play', 0x50010000, 0, 10, 123, 94, 19),
            (1008, button, 'Pause', 0x50010000, 0, 110, 123, 94, 19),
            (1009, button, 'Stop', 0x50010000, 0, 210, 123, 90, 19),
            (1010, edit, '', 0x50010000, 0x200, 263, 55, 44, 12),
            (1011, edit, '', 0x50010000, 0x200, 263, 95, 44, 12),
        ]
        controls = parse_dialog(self.only(RT_DIALOG, 1000))['controls']
        # Help ID 0 and no creation data for every control.
        self.assertEqual([c[9:] for c in controls], [(0, 0)] * 11)
        self.assertEqual([c[:9] for c in controls], expected)

    def test_menu(self):
        data = self.only(RT_MENU, 10000)
        r = Reader(data)
        self.assertEqual(r.take('HH'), (0, 0))
        self.assertEqual((r.take('H'), r.text()), (0x0090, 'File'))
        self.assertEqual((r.take('HH'), r.text()), ((0x0080, 10002), '&Open File'))
        self.assertEqual(r.position, len(data))

    def test_icon_group_and_its_one_image(self):
        group = self.only(RT_GROUP_ICON, 'MAIN_ICO')
        self.assertEqual(struct.unpack('<HHH', group[:6]), (0, 1, 1))
        self.assertEqual(struct.unpack('<BBBBHHIH', group[6:]), (32, 32, 16, 0, 1, 4, 744, 1))
        image = self.only(RT_ICON, 1)
        self.assertEqual(len(image), 744)
        size, width, height, planes, bits, compression = struct.unpack_from('<IiiHHI', image)
        self.assertEqual((size, width, height, planes, bits, compression), (40, 32, 64, 1, 4, 0))

    def test_icon_picture_is_a_window_with_a_blue_title_bar_and_white_client(self):
        image = self.only(RT_ICON, 1)
        palette = [tuple(image[40 + 4 * i:43 + 4 * i][::-1]) for i in range(16)]
        pixels = image[104:616]

        def colour(x, y):  # top-left origin; rows are stored bottom first
            row = pixels[(31 - y) * 16:(32 - y) * 16]
            index = row[x // 2] >> 4 if x % 2 == 0 else row[x // 2] & 0xF
            return palette[index]

        column = [colour(16, y) for y in range(32)]
        blue = [c for c in column if c[2] > 0xC0 and c[0] < 0x40 and c[1] < 0x40]
        white = [c for c in column if c == (0xFF, 0xFF, 0xFF)]
        self.assertGreaterEqual(len(blue), 3)
        self.assertGreaterEqual(len(white), 8)
        first_blue = column.index(blue[0])
        first_white = column.index(white[0])
        self.assertLess(first_blue, first_white)  # the title bar above the client area

    def test_version_block(self):
        (key, fixed, _, children), length = parse_version_block(self.only(RT_VERSION, 1))
        self.assertEqual(key, 'VS_VERSION_INFO')
        self.assertEqual(len(fixed), 52)
        (signature, _, file_ms, file_ls, product_ms, product_ls, mask, flags, os, file_type,
         subtype, date_ms, date_ls) = struct.unpack('<13I', fixed)
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (0x10000, 0, 0x10000, 0))
        self.assertEqual((mask, flags), (0, 0))
        self.assertEqual((os, file_type, subtype), (4, 1, 0))
        self.assertEqual((date_ms, date_ls), (0, 0))

        blocks = {child[0]: child for child in children}
        self.assertEqual(sorted(blocks), ['StringFileInfo', 'VarFileInfo'])
        tables = blocks['StringFileInfo'][3]
        self.assertEqual([table[0] for table in tables], ['FFFF0000'])
        strings = {}
        for name, value, is_text, _ in tables[0][3]:
            self.assertEqual(is_text, 1)
            strings[name] = value.decode('utf-16-le').rstrip('\0')
        self.assertEqual(sorted(strings), ['CompanyName', 'FileVersion', 'LegalCopyright', 'ProductVersion'])
        self.assertEqual(strings['FileVersion'], '1.0.0.0')
        self.assertEqual(strings['ProductVersion'], '1.0.0.0')
        self.assertTrue(strings['CompanyName'])
        self.assertEqual(strings['LegalCopyright'], strings['CompanyName'])

        variables = blocks['VarFileInfo'][3]
        self.assertEqual([(v[0], v[1], v[2]) for v in variables],
                         [('Translation', struct.pack('<HH', 0xFFFF, 0x0000), 0)])

    def test_manifest_selects_the_version_6_common_controls(self):
        data = self.only(RT_MANIFEST, 1)
        self.assertTrue(data.startswith(b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'))
        ns = '{urn:schemas-microsoft-com:asm.v1}'
        assembly = ElementTree.fromstring(data)
        self.assertEqual(assembly.tag, ns + 'assembly')
        self.assertEqual(assembly.attrib, {'manifestVersion': '1.0'})
        self.assertEqual([child.tag for child in assembly],
                         [ns + 'assemblyIdentity', ns + 'description', ns + 'dependency'])
        self.assertEqual(assembly.find(ns + 'assemblyIdentity').attrib, {
            'version': '1.0.0.0', 'processorArchitecture': EXPECTED_MANIFEST_ARCH,
            'name': 'Company.Product.Name', 'type': 'win32'})
        description = assembly.find(ns + 'description')
        self.assertEqual((description.text or '').strip(), '')
        self.assertEqual(len(description), 0)
        dependencies = assembly.findall(ns + 'dependency/' + ns + 'dependentAssembly/' + ns + 'assemblyIdentity')
        self.assertEqual([d.attrib for d in dependencies], [{
            'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls', 'version': '6.0.0.0',
            'processorArchitecture': EXPECTED_MANIFEST_ARCH, 'publicKeyToken': '6595b64144ccf1df', 'language': '*'}])

    def test_imports_the_narrow_system_calls(self):
        imports = self.pe.imports()
        expected = {
            'user32.dll': {'DialogBoxParamA', 'EndDialog', 'SendDlgItemMessageA', 'SendMessageA',
                           'SetDlgItemInt', 'SetDlgItemTextA'},
            'comctl32.dll': {'InitCommonControls'},
            'comdlg32.dll': {'GetOpenFileNameA'},
            'kernel32.dll': {'GetModuleHandleA', 'ExitProcess'},
        }
        for dll, functions in expected.items():
            self.assertIn(dll, imports)
            self.assertEqual(functions - imports[dll], set(), dll)
        wide = {name for name in imports.get('user32.dll', set()) | imports.get('comdlg32.dll', set())
                if name.endswith('W')}
        self.assertEqual(wide, set())


if __name__ == '__main__':
    if len(sys.argv) < 2:
        sys.exit('usage: resources_test.py PROGRAM.exe [--64-bit] [unittest options]')
    EXE_PATH = sys.argv.pop(1)
    if '--64-bit' in sys.argv:
        sys.argv.remove('--64-bit')
        EXPECTED_MACHINE = (MACHINE_AMD64, PE32_PLUS_MAGIC)
        EXPECTED_MANIFEST_ARCH = 'amd64'
    unittest.main()
