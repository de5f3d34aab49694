#!/usr/bin/python3
"""Usage: pe_diff.py READER CORPUS DOC. romgate-pack's PE reader against pefile on each file of CORPUS:
a file answered otherwise fails unless DOC lists it among the known differences, and so does one
listed there that is answered alike."""
import os, re, subprocess, sys  # noqa: E401
import pefile

reader, corpus, doc = sys.argv[1:]


def read(path):
    """pefile's reading as pe_reader prints it. A program parses, is an executable, no DLL, PE32 or
    PE32+, with every section's header and data in the file."""
    data = open(path, "rb").read()
    try:
        pe = pefile.PE(data=data, fast_load=True)
        pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except pefile.PEFormatError:
        return "0"
    fh, oh, v = pe.FILE_HEADER, pe.OPTIONAL_HEADER, getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    if fh.Characteristics & 0x2002 != 2 or oh.Magic not in (0x10B, 0x20B) or len(pe.sections) != \
            fh.NumberOfSections or any(s.SizeOfRawData and s.PointerToRawData + s.SizeOfRawData >
                                       len(data) for s in pe.sections):
        return "0"
    has = int(bool(v) and v.Signature == 0xFEEF04BD)
    ms, ls = (v.ProductVersionMS, v.ProductVersionLS) if has else (0, 0)
    names = [t.entries.get(b"InternalName") for info in getattr(pe, "FileInfo", []) if has
             for i in info if i.name == "StringFileInfo" for t in i.StringTable]
    name = next((n.decode("ascii", "replace").replace("\ufffd", "?") for n in names if n), "-")
    return f"1 0x{fh.Machine:x} 0x{oh.Magic:x} {oh.Subsystem} {has} " \
           f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF} {name}"


files = [f"{corpus}/{name}" for name in sorted(os.listdir(corpus))]
section = open(doc).read().split("## Where the PE reader and pefile differ\n")[1].split("\n#")[0]
known = set(re.findall(r"^\| `([\w-]+)`", section, re.M))
out = subprocess.run([reader, *files], capture_output=True, text=True).stdout
ours = dict(line.split(" ", 1) for line in out.splitlines())
failed = [f for f in files if (ours.get(f) == read(f)) == (os.path.basename(f) in known)]
print(*(f"FAIL {f}: romgate-pack {ours.get(f)}, pefile {read(f)}" for f in failed), f"{len(files)} "
      f"files, {len(known)} listed in {doc} as known to differ, {len(failed)} not as expected", sep="\n")
sys.exit(1 if failed else 0)
