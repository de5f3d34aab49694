#!/usr/bin/python3
"""Builds Romgate.exe again from scratch elsewhere: the same sources must give
the same bytes. usage: check_reproducible.py CMAKE SOURCE PRESET Romgate.exe"""
import subprocess, sys, tempfile
from pathlib import Path

cmake, source, preset, built = sys.argv[1:]
with tempfile.TemporaryDirectory(prefix="romgate-rebuild-") as out:
    for argv in ([cmake, "--preset", preset, "-B", out],
                 [cmake, "--build", out, "--target", "Romgate"]):
        subprocess.run(argv, cwd=source, check=True, stdout=subprocess.DEVNULL)
    same = Path(out, "platform/win32/Romgate.exe").read_bytes() == \
        Path(built).read_bytes()
print(("ok: a clean rebuild is byte for byte " if same else
       "FAIL: a clean rebuild differs from ") + built)
sys.exit(0 if same else 1)
