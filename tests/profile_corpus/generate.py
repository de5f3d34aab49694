#!/usr/bin/python3
"""Writes the corpus files too long or too binary to type (lines past the hosted
reader's 4096-byte pieces and 64 KiB, noise); the others are typed. All are committed."""
import os
import random

M = b"[VORNUpdate]\r\nVersion=2.1.0\r\n"
NOISE = random.Random(8).randbytes(8192)
for name, data in {
        "long_line_70k_before": b"; " + b"x=" * 35000 + b"\r\n" + M,
        "long_section_70k": b"[" + b"V" * 70000 + b"]\r\nVersion=1.0.0\r\n" + M,
        "long_key_5k": M[:14] + b"Version" * 700 + b"=1.0.0\r\n" + M[14:],
        "long_value_5k": M[:22] + b"2.1.0." * 800 + b"\r\n",
        "long_value_70k": M[:22] + b'"' + b"1234567" * 10000 + b'"\r\n',
        "value_across_4096": M[:14] + b" " * 4072 + b"Version = 2.1.0 \r\n",
        "binary_garbage_around": NOISE[:4000] + b"\r\n" + M + NOISE[4000:],
        "binary_garbage_in_section": M[:14] + NOISE.replace(b"[", b"(") + b"\r\n" + M[14:],
        "binary_value": M[:22] + bytes(b for b in NOISE[:600] if b not in b"\r\n\0") + b"\r\n",
}.items():
    with open(os.path.join(os.path.dirname(__file__), name + ".ini"), "wb") as file:
        file.write(data)
