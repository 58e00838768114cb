#!/usr/bin/python3
"""Reads dialog 102 out of the built Windows tarnel.wcx and compares the
compiled extended dialog template, header and every control, field by field
with the dialog the plug-in's options rely on. The compiled bytes are what a
resource compiler made of the source, so style bits it adds of its own, a
class stored as a name instead of an ordinal or a changed id show up here."""
import struct
import sys

import pefile

RT_DIALOG = 5
DIALOG_ID = 102

HEADER = {
    "version": 1,
    "signature": 0xFFFF,
    "help_id": 0,
    "ex_style": 0,
    "style": 0x80C800C8,
    "count": 11,
    "x": 0,
    "y": 0,
    "cx": 186,
    "cy": 119,
    "menu": None,
    "class": None,
    "caption": "Tarnel Options",
    "point_size": 8,
    "weight": 400,
    "italic": 0,
    "charset": 1,
    "typeface": "MS Shell Dlg",
}

BUTTON, EDIT, STATIC = 0x0080, 0x0081, 0x0082
NO_ID = 0xFFFFFFFF

# id, class ordinal, text, x, y, cx, cy, style
CONTROLS = [
    (1, BUTTON, "OK", 61, 95, 50, 14, 0x50010001),
    (2, BUTTON, "Cancel", 126, 95, 50, 14, 0x50010000),
    (NO_ID, BUTTON, "Compression", 10, 12, 78, 72, 0x50000007),
    (NO_ID, BUTTON, "Misc", 98, 12, 78, 72, 0x50000007),
    (1005, BUTTON, "Auto", 18, 31, 63, 9, 0x50020009),
    (1002, BUTTON, "Deflate", 18, 47, 63, 9, 0x50000009),
    (1003, BUTTON, "Standard", 18, 63, 63, 9, 0x50000009),
    (1004, EDIT, "", 104, 34, 65, 14, 0x50810080),
    (NO_ID, STATIC, "Locale ID", 112, 23, 49, 9, 0x50020000),
    (NO_ID, STATIC, "Max Files", 110, 52, 49, 9, 0x50020000),
    (1006, EDIT, "", 103, 63, 65, 14, 0x50810080),
]
CONTROL_FIELDS = ("id", "class", "text", "x", "y", "cx", "cy", "style")


class Reader:
    """Reads the little-endian fields of a template in order."""

    def __init__(self, data):
        self.data = data
        self.at = 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self, empty=None):
        """An int for an ordinal, else the string; `empty` when the entry is
        a lone zero (no menu or class; an empty text)."""
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0x0000:
            self.at += 2
            return empty
        if first == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()

    def align(self, size):
        self.at = (self.at + size - 1) // size * size


def find_dialog(pe, failures):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_DIALOG:
            continue
        for name in kind.directory.entries:
            if name.id != DIALOG_ID:
                continue
            languages = name.directory.entries
            if len(languages) != 1:
                failures.append(f"dialog {DIALOG_ID} in {len(languages)} languages, expected 1")
            entry = languages[0].data.struct
            return pe.get_data(entry.OffsetToData, entry.Size)
    return None


def parse(data):
    r = Reader(data)
    header = {}
    header["version"], header["signature"] = r.take("HH")
    header["help_id"], header["ex_style"], header["style"] = r.take("III")
    header["count"] = r.take("H")
    header["x"], header["y"], header["cx"], header["cy"] = r.take("hhhh")
    header["menu"] = r.name_or_ordinal()
    header["class"] = r.name_or_ordinal()
    header["caption"] = r.text()
    header["point_size"], header["weight"] = r.take("HH")
    header["italic"], header["charset"] = r.take("BB")
    header["typeface"] = r.text()
    controls = []
    for _ in range(header["count"]):
        r.align(4)
        control = {}
        control["help_id"], control["ex_style"], control["style"] = r.take("III")
        control["x"], control["y"], control["cx"], control["cy"] = r.take("hhhh")
        control["id"] = r.take("I")
        control["class"] = r.name_or_ordinal()
        control["text"] = r.name_or_ordinal(empty="")
        control["extra"] = r.take("H")
        r.at += control["extra"]
        controls.append(control)
    return header, controls


def show(value):
    return hex(value) if isinstance(value, int) and value > 255 else repr(value)


def main(path):
    failures = []
    pe = pefile.PE(path)
    data = find_dialog(pe, failures)
    if data is None:
        print(f"FAIL: no dialog {DIALOG_ID} among the resources")
        return 1
    header, controls = parse(data)

    for field, expected in HEADER.items():
        if header[field] != expected:
            failures.append(f"header {field}: {show(header[field])}, expected {show(expected)}")
    for index, row in enumerate(CONTROLS):
        if index >= len(controls):
            failures.append(f"control {index + 1} missing")
            continue
        control = controls[index]
        expected = dict(zip(CONTROL_FIELDS, row))
        expected.update(help_id=0, ex_style=0, extra=0)
        text = row[2]
        for field, value in expected.items():
            if control[field] != value:
                failures.append(f"control {index + 1} ({text!r}) {field}: "
                                f"{show(control[field])}, expected {show(value)}")

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"dialog {DIALOG_ID}: header and {len(controls)} controls as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
