#!/usr/bin/python3
"""Checks what Romgate.exe is, read from the file itself: format, imports,
resources, icon images, version block and size.

usage: check_pe.py Romgate.exe
Prints one line per numbered check; exits 1 when any fails.
"""
import struct
import sys

import pefile

MAX_SIZE = 24576
RT = pefile.RESOURCE_TYPE
# (width, height) of each icon image, all 16 colours at 4 bits per pixel.
ICON_SIZES = [(32, 32), (16, 16)]
FIXED_VERSION = {
    "Signature": 0xFEEF04BD,
    "FileVersionMS": 0x00010000, "FileVersionLS": 0,
    "ProductVersionMS": 0x00010000, "ProductVersionLS": 0,
    "FileFlagsMask": 0x3F, "FileFlags": 0,
    "FileOS": 0x4, "FileType": 0x1, "FileSubtype": 0,
    "FileDateMS": 0, "FileDateLS": 0,
}
VERSION_STRINGS = {"040404b0": {
    "Comments": "", "CompanyName": "",
    "FileDescription": "Romgate MFC Application",
    "FileVersion": "1, 0, 0, 0", "InternalName": "Romgate",
    "LegalTrademarks": "", "OriginalFilename": "Romgate.EXE",
    "PrivateBuild": "", "ProductName": "Romgate Application",
    "ProductVersion": "1, 0, 0, 0", "SpecialBuild": "",
}}


def resources(pe):
    """Every resource as (type id, name id, language id, its bytes)."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    return [(t.id, n.id, l.id,
             pe.get_data(l.data.struct.OffsetToData, l.data.struct.Size))
            for t in (root.entries if root else [])
            for n in t.directory.entries for l in n.directory.entries]


def imported_dlls(pe):
    """Imported DLL names in lower case; delay-loaded ones marked so."""
    return sorted([e.dll.decode().lower()
                   for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])] +
                  ["delay-loaded " + e.dll.decode().lower()
                   for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])])


def icon_groups(pe):
    """Each icon group's entries as (width, height, colours, planes, bits,
    bytes, image id), by group id."""
    groups = {}
    for t, n, l, raw in resources(pe):
        if t == RT["RT_GROUP_ICON"]:
            count = struct.unpack_from("<H", raw, 4)[0]
            groups[n] = [struct.unpack_from("<BBBxHHIH", raw, 6 + 14 * i)
                         for i in range(count)]
    return groups


def icon_images(pe):
    """For each image of icon group 128: its DIB header's size, width,
    height, planes, bits, compression and colours, its length, and the
    length the group gives for it."""
    images = {n: raw for t, n, l, raw in resources(pe) if t == RT["RT_ICON"]}
    found = []
    for *_, length, image_id in icon_groups(pe).get(128, []):
        raw = images.get(image_id, b"")
        if len(raw) < 40:
            found.append(("missing or short image", image_id))
            continue
        size, width, height, planes, bits, compression, *_, used, _ = \
            struct.unpack_from("<IiiHHIIiiII", raw, 0)
        found.append((size, width, height, planes, bits, compression,
                      used or 16, len(raw), length))
    return found


def expected_icon_images():
    # Header, 16-entry palette, 4-bit colour rows, 1-bit mask rows; each
    # row padded to 32 bits, the height counting both bitmaps.
    def length(w, h):
        return 40 + 16 * 4 + (w * 4 + 31) // 32 * 4 * h + (w + 31) // 32 * 4 * h
    return [(40, w, 2 * h, 1, 4, 0, 16, length(w, h), length(w, h))
            for w, h in ICON_SIZES]


def version_blocks(pe, key):
    infos = getattr(pe, "FileInfo", [])
    return [b for b in (infos[0] if infos else []) if b.Key == key]


def version_strings(pe):
    return {t.LangID.decode(): {k.decode(): v.decode()
                                for k, v in t.entries.items()}
            for b in version_blocks(pe, b"StringFileInfo")
            for t in b.StringTable}


def translations(pe):
    return [[int(x, 16) for x in v.entry.get(b"Translation", "").split()]
            for b in version_blocks(pe, b"VarFileInfo") for v in b.Var]


def fixed_version(pe):
    infos = getattr(pe, "VS_FIXEDFILEINFO", [])
    if len(infos) != 1:
        return f"{len(infos)} fixed parts"
    return {k: getattr(infos[0], k) for k in FIXED_VERSION}


# (what is checked, what the file gives, what it must give or a test of it)
CHECKS = [
    ("size at most 24576 bytes", lambda pe, size: size,
     lambda size: size <= MAX_SIZE),
    ("machine i386", lambda pe, size: hex(pe.FILE_HEADER.Machine), "0x14c"),
    ("PE32", lambda pe, size: hex(pe.OPTIONAL_HEADER.Magic), "0x10b"),
    ("GUI subsystem", lambda pe, size: pe.OPTIONAL_HEADER.Subsystem, 2),
    ("imports only system DLLs", lambda pe, size: imported_dlls(pe),
     ["advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"]),
    ("no application manifest", lambda pe, size:
     [n for t, n, l, raw in resources(pe) if t == RT["RT_MANIFEST"]], []),
    ("only icon and version resources", lambda pe, size:
     sorted({t for t, n, l, raw in resources(pe)}),
     sorted([RT["RT_ICON"], RT["RT_GROUP_ICON"], RT["RT_VERSION"]])),
    ("all resources in language 0x0404", lambda pe, size:
     sorted({hex(l) for t, n, l, raw in resources(pe)}), ["0x404"]),
    ("icon group 128: 32x32 and 16x16 at 4 bpp", lambda pe, size:
     {n: [e[:5] for e in g] for n, g in icon_groups(pe).items()},
     {128: [(w, h, 16, 1, 4) for w, h in ICON_SIZES]}),
    ("icon images: 4 bpp DIBs of the group's sizes",
     lambda pe, size: icon_images(pe), expected_icon_images()),
    ("version block fixed part", lambda pe, size: fixed_version(pe),
     FIXED_VERSION),
    ("version strings", lambda pe, size: version_strings(pe),
     VERSION_STRINGS),
    ("version translation", lambda pe, size: translations(pe),
     [[0x0404, 0x04B0]]),
]


def mismatch(got, expected):
    """Says how got differs from expected; for tables, only the entries
    that differ."""
    if isinstance(got, dict) and isinstance(expected, dict):
        return "; ".join(f"{k!r}: {mismatch(got.get(k), expected.get(k))}"
                         for k in sorted(set(got) | set(expected), key=str)
                         if got.get(k) != expected.get(k))
    return f"got {got!r}, expected {expected!r}"


def main(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = pefile.PE(data=data)
    failures = 0
    for row, (name, actual, expected) in enumerate(CHECKS, 1):
        got = actual(pe, len(data))
        ok = expected(got) if callable(expected) else got == expected
        detail = f"got {got!r}" if callable(expected) else \
            mismatch(got, expected)
        print(f"ok {row:2} {name}" if ok else f"FAIL {row:2} {name}: {detail}")
        failures += not ok
    print(f"{path}: {len(data)} bytes, {failures} of {len(CHECKS)} checks "
          "failed")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
