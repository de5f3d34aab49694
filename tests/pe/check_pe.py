#!/usr/bin/python3
"""Checks what the build of Romgate.exe could get wrong, read from the file itself: imports,
resources, icon, the version block's table and size (romgate-pack's test holds that it is a PE32
GUI program for i386). usage: check_pe.py Romgate.exe"""
import struct
import sys

import pefile

RT = pefile.RESOURCE_TYPE


def icon_group(res, group):
    """Each image of the icon group: width, height, colours and bits as the
    group gives them, then width, height and bits of the image's DIB."""
    raw, images = res[RT["RT_GROUP_ICON"], group], []
    for n in range(raw[4]):
        *entry, image = struct.unpack_from("<BBBxxxHxxxxH", raw, 6 + 14 * n)
        dib = res[RT["RT_ICON"], image]
        images.append((*entry, *struct.unpack_from("<iixxH", dib, 4)))
    return images


def checks(pe):
    """Each check as (what, what the file gives, what it must give)."""
    res = {(t.id, n.id, lang.id): pe.get_data(lang.data.struct.OffsetToData,
                                              lang.data.struct.Size)
           for t in pe.DIRECTORY_ENTRY_RESOURCE.entries
           for n in t.directory.entries for lang in n.directory.entries}
    blocks = {b.Key: b for info in pe.FileInfo for b in info}
    tables = [t.LangID.decode() for t in blocks[b"StringFileInfo"].StringTable]
    # A signature is appended by the packager, after the build: not counted.
    signature = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size
    size = len(pe.__data__) - signature
    return [
        ("size at most 20480 bytes, a signature not counted",
         size if size > 20480 else "fits", "fits"),
        ("imports exactly these DLLs, none delay-loaded", sorted(
            e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT +
            getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])),
         ["advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"]),
        ("only icon and version resources: no manifest",
         sorted({key[0] for key in res}),
         sorted([RT["RT_ICON"], RT["RT_GROUP_ICON"], RT["RT_VERSION"]])),
        ("all resources in language 0x0404", {hex(key[2]) for key in res},
         {"0x404"}),
        ("icon group 128: 32x32 and 16x16 at 4 bpp",
         icon_group({key[:2]: raw for key, raw in res.items()}, 128),
         [(32, 32, 16, 4, 32, 64, 4), (16, 16, 16, 4, 16, 32, 4)]),
        ("one version string table, 040404b0", tables, ["040404b0"]),
        ("version translation 0x0404 0x04b0",
         [[int(x, 16) for x in v.entry[b"Translation"].split()]
          for v in blocks[b"VarFileInfo"].Var], [[0x404, 0x4B0]]),
    ]


if __name__ == "__main__":
    try:
        found = checks(pefile.PE(sys.argv[1]))
    except (AttributeError, IndexError, KeyError, struct.error) as e:
        sys.exit(f"FAIL {sys.argv[1]} lacks a part that is checked: {e!r}")
    for row, (what, got, want) in enumerate(found, 1):
        print(f"ok {row:2} {what}" if got == want else
              f"FAIL {row:2} {what}: got {got!r}, expected {want!r}")
    failed = sum(got != want for _, got, want in found)
    print(f"{sys.argv[1]}: {failed} of {len(found)} checks failed")
    sys.exit(1 if failed else 0)
