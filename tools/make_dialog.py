#!/usr/bin/env python3
"""Writes the main dialog's template, an extended dialog template
(DLGTEMPLATEEX), as the raw bytes of a dialog resource.

    python3 tools/make_dialog.py app/resource.h OUTPUT

The resource compiler stores a control's window class name in upper case,
but the trackbars must be created from "msctls_trackbar32" exactly as
written; so this script lays the template out itself and the .rc includes
the result as a resource of the dialog type. Identifiers come from
resource.h, the header the program uses too.
"""
import re
import struct
import sys

WS_EX_TOOLWINDOW = 0x80
WS_EX_CLIENTEDGE = 0x200

# WS_VISIBLE + WS_OVERLAPPEDWINDOW + DS_CENTER + DS_SETFONT
DIALOG_STYLE = 0x10CF0840
CHILD = 0x50000000            # WS_CHILD + WS_VISIBLE
TABSTOP = CHILD | 0x00010000  # ... + WS_TABSTOP
DISABLED_TABSTOP = TABSTOP | 0x08000000

# Predefined window classes, stored as atoms.
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
TRACKBAR = "msctls_trackbar32"

DIALOG = dict(id='IDD_MAIN', x=6, y=6, width=312, height=157,
              menu='IDR_MAIN_MENU', caption="Sound module test App",
              font_points=8, font_weight=400, font_italic=0, font_charset=0,
              font="MS Sans Serif")

# Template order is tab and stacking order: (id, class, text, style,
# extended style, x, y, width, height).
CONTROLS = [
    ('IDC_VOLUME', TRACKBAR, "", CHILD, 0, 6, 55, 254, 12),
    ('IDC_FILE_LABEL', STATIC, "Trenutni fajl:", CHILD, 0, 3, 6, 154, 9),
    ('IDC_FILE_NAME', EDIT, "", DISABLED_TABSTOP, WS_EX_CLIENTEDGE, 3, 18, 304, 12),
    ('IDC_VOLUME_LABEL', STATIC, "Volume", CHILD, 0, 10, 43, 97, 9),
    ('IDC_BALANCE_LABEL', STATIC, "Balans (nije uradjeno)", CHILD, 0, 10, 83, 97, 9),
    ('IDC_BALANCE', TRACKBAR, "", CHILD, 0, 6, 95, 254, 12),
    ('IDC_PLAY', BUTTON, "Play", TABSTOP, 0, 10, 123, 94, 19),
    ('IDC_PAUSE', BUTTON, "Pause", TABSTOP, 0, 110, 123, 94, 19),
    ('IDC_STOP', BUTTON, "Stop", TABSTOP, 0, 210, 123, 90, 19),
    ('IDC_VOLUME_VALUE', EDIT, "", TABSTOP, WS_EX_CLIENTEDGE, 263, 55, 44, 12),
    ('IDC_BALANCE_VALUE', EDIT, "", TABSTOP, WS_EX_CLIENTEDGE, 263, 95, 44, 12),
]


def read_ids(header_path):
    """The numeric #defines of resource.h, by name."""
    with open(header_path) as header:
        return {name: int(value) for name, value in
                re.findall(r'^#define\s+(\w+)\s+(\d+)\s*$', header.read(), re.M)}


def text(value):
    """A zero-terminated UTF-16 string."""
    return (value + '\0').encode('utf-16-le')


def name_or_atom(value):
    """A class given as a string, or as a predefined atom (0xFFFF, atom)."""
    return struct.pack('<HH', 0xFFFF, value) if isinstance(value, int) else text(value)


def align4(data):
    """Pads to the next 4-byte boundary, where each control must start."""
    return data + b'\0' * (-len(data) % 4)


def template(ids):
    """The whole template's bytes."""
    d = DIALOG
    data = struct.pack('<HHIIIHhhhh', 1, 0xFFFF, 0, WS_EX_TOOLWINDOW, DIALOG_STYLE,
                       len(CONTROLS), d['x'], d['y'], d['width'], d['height'])
    data += name_or_atom(ids[d['menu']])
    data += struct.pack('<H', 0)  # the system's dialog class
    data += text(d['caption'])
    data += struct.pack('<HHBB', d['font_points'], d['font_weight'], d['font_italic'], d['font_charset'])
    data += text(d['font'])
    for name, window_class, caption, style, ex_style, x, y, width, height in CONTROLS:
        data = align4(data)
        data += struct.pack('<IIIhhhhI', 0, ex_style, style, x, y, width, height, ids[name])
        data += name_or_atom(window_class)
        data += text(caption)
        data += struct.pack('<H', 0)  # no creation data
    return data


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: make_dialog.py resource.h OUTPUT')
    with open(sys.argv[2], 'wb') as out:
        out.write(template(read_ids(sys.argv[1])))


if __name__ == '__main__':
    main()
