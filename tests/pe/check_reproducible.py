#!/usr/bin/python3
"""Builds Romgate.exe again from scratch in a temporary directory and checks
that it is byte for byte the one given: the same sources must always give
the same file, wherever they are built.

usage: check_reproducible.py CMAKE SOURCE_DIR PRESET Romgate.exe
"""
import os
import subprocess
import sys
import tempfile


def first_difference(a, b):
    """Offset of the first differing byte, or None when equal."""
    for offset, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return offset
    return None if len(a) == len(b) else min(len(a), len(b))


def main(cmake, source_dir, preset, built_path):
    with tempfile.TemporaryDirectory(prefix="romgate-rebuild-") as build_dir:
        for command in ([cmake, "--preset", preset, "-B", build_dir],
                        [cmake, "--build", build_dir, "--target", "Romgate"]):
            subprocess.run(command, cwd=source_dir, check=True,
                           stdout=subprocess.DEVNULL)
        rebuilt_path = os.path.join(build_dir, "platform", "win32",
                                    "Romgate.exe")
        with open(built_path, "rb") as f:
            built = f.read()
        with open(rebuilt_path, "rb") as f:
            rebuilt = f.read()
    offset = first_difference(built, rebuilt)
    if offset is not None:
        print(f"FAIL rebuild differs from {built_path} at byte 0x{offset:x} "
              f"({len(built)} and {len(rebuilt)} bytes)")
        return 1
    print(f"ok rebuild identical to {built_path} ({len(built)} bytes)")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
