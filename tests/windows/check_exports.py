#!/usr/bin/python3
"""Reads the built Windows tarnel.wcx and checks what a host and a user rely
on: a 32-bit DLL; each of the 11 entry points exported under its plain name
(ordinals 1-11, alphabetical) and its standard-call decorated name (ordinals
12-22, same order), both names at the same address, nothing else exported;
the export directory's module name "Tarnel.wcx"; and imports from system DLLs
only, so that the file can be copied alone."""
import sys

import pefile

ENTRY_POINTS = [
    ("CloseArchive", 4),
    ("ConfigurePacker", 8),
    ("DeleteFiles", 8),
    ("GetPackerCaps", 0),
    ("OpenArchive", 4),
    ("PackFiles", 20),
    ("PackSetDefaultParams", 4),
    ("ProcessFile", 16),
    ("ReadHeader", 8),
    ("SetChangeVolProc", 8),
    ("SetProcessDataProc", 8),
]

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll",
    "comctl32.dll", "comdlg32.dll", "shell32.dll", "ole32.dll",
}


def main(path):
    failures = []
    pe = pefile.PE(path)
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        failures.append("not a 32-bit x86 image")
    if not pe.is_dll():
        failures.append("not a DLL")

    exports = pe.DIRECTORY_ENTRY_EXPORT
    module_name = pe.get_string_at_rva(exports.struct.Name).decode()
    if module_name != "Tarnel.wcx":
        failures.append(f"module name {module_name!r}, expected 'Tarnel.wcx'")

    by_ordinal = {}
    for symbol in exports.symbols:
        name = symbol.name.decode() if symbol.name else None
        by_ordinal[symbol.ordinal] = (name, symbol.address)

    expected = {}
    for index, (name, size) in enumerate(ENTRY_POINTS):
        expected[index + 1] = name
        expected[index + 12] = f"_{name}@{size}"
    if sorted(by_ordinal) != sorted(expected):
        failures.append(f"ordinals {sorted(by_ordinal)}, expected 1-22")
    for ordinal, name in expected.items():
        actual = by_ordinal.get(ordinal, (None, None))[0]
        if actual != name:
            failures.append(f"ordinal {ordinal}: {actual!r}, expected {name!r}")
    for index in range(len(ENTRY_POINTS)):
        plain = by_ordinal.get(index + 1, (None, None))[1]
        decorated = by_ordinal.get(index + 12, (None, None))[1]
        if plain is None or plain != decorated:
            failures.append(f"{ENTRY_POINTS[index][0]}: the two names lead to different code")

    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().lower()
        if dll not in SYSTEM_DLLS and not dll.startswith("api-ms-win-"):
            failures.append(f"imports from {dll}, which is not a system DLL")

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("exports, ordinals, module name and imports ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
