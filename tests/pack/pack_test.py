#!/usr/bin/python3
"""romgate-pack on a table of invocations: each good one lays out exactly the
package, each bad one is refused and leaves nothing behind. The signed
launcher is kept for the tests that check and run it."""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

FOUR = ["BIOS.rom", "Romgate.exe", "Setup.exe", "VORNUpdate.ini"]
USAGE, REFUSED = 2, 1
PE = str(Path(__file__).resolve().parents[2] / "fuzz/corpus/pe_facts/romgate-")  # patched copies


def rows(a):
    """(what, arguments over the defaults, exit status, text on stderr)."""
    return [
        ("plain", [], 0, ""),
        ("two components", ["--version", "2.1"], 0, ""),
        ("into an empty folder", ["--out", "empty"], 0, ""),
        ("zipped", ["--zip"], 0, ""),
        ("signed", ["--sign-pkcs12", "k.p12", "--sign-pass-file", "pass"], 0, ""),
        ("installer declares 1.0.0.0", ["--setup", a.launcher], 0,
         "declares ProductVersion 1.0.0.0, not 2.1.0"),
        ("installer declares 1.0.0.0, as packaged", ["--setup", a.launcher, "--version",
                                                     "1.0.0"], 0, ""),
        ("empty version", ["--version", ""], REFUSED, "empty; Romgate would read it as no"),
        ("four components", ["--version", "2.1.0.4"], REFUSED,
         "more than three components; Romgate would read it as 2.1.0"),
        ("a suffix", ["--version", "2.1.0-beta"], REFUSED,
         "other than digits; Romgate would read it as 2.1.0"),
        ("a prefix", ["--version", "v2.1.0"], REFUSED, "would read it as 0.1.0"),
        ("beyond int", ["--version", "2147483648.0.0"], REFUSED,
         "beyond 2147483647; Romgate would read it as 2147483647.0.0"),
        ("two dots", ["--version", "2..1"], REFUSED, "empty; Romgate would read it as 2.1.0"),
        ("installer for x64", ["--setup", PE + "amd64"], 0, ""),
        ("installer for ARM64", ["--setup", PE + "arm64"], 0, ""),
        ("installer for machine 0", ["--setup", PE + "machine_0"], REFUSED, "not a Windows GUI or"),
        ("installer an EFI application", ["--setup", PE + "efi"], REFUSED, "i386, AMD64 or ARM64"),
        ("launcher for x64", ["--launcher", PE + "amd64"], REFUSED, "not a 32-bit Windows GUI"),
        ("launcher PE32+", ["--launcher", PE + "pe32_plus"], REFUSED, "GUI program (PE32, i386)"),
        ("launcher a console program", ["--launcher", PE + "console"], REFUSED, "not a 32-bit"),
        ("empty image", ["--image", "empty.rom"], REFUSED, "it is empty"),
        ("missing image", ["--image", "none.rom"], REFUSED, "not a readable file"),
        ("folder not empty", ["--out", "full"], REFUSED, "not an empty folder"),
        ("archive exists", ["--zip", "--out", "old"], REFUSED, "old.zip or its .sha256 exists"),
        ("wrong password", ["--sign-pkcs12", "k.p12", "--sign-pass-file", "wrong"], REFUSED,
         "osslsigncode sign failed"),
        ("no --out", ["--out", ""], USAGE, "are needed"),
        ("unknown", ["--fast"], USAGE, "unknown argument --fast"),
        ("key without password", ["--sign-pkcs12", "k.p12"], USAGE, "go together"),
    ]


def prepare(a):
    """The inputs of the rows in the current folder."""
    Path("image.rom").write_bytes(bytes(range(256)) * 16)
    Path("empty.rom").write_bytes(b"")
    os.mkdir("empty")
    os.mkdir("full")
    Path("full/keep").write_text("kept")
    Path("old.zip").write_text("kept")
    Path("pass").write_text("secret\n")
    Path("wrong").write_text("wrong\n")
    for argv in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "k.pem", "-out",
                  "c.pem", "-days", "2", "-subj", "/CN=Romgate test signer", "-addext",
                  "extendedKeyUsage=codeSigning"],
                 ["pkcs12", "-export", "-inkey", "k.pem", "-in", "c.pem", "-out", "k.p12",
                  "-passout", "file:pass"]):
        subprocess.run(["openssl", *argv], check=True, capture_output=True)


def invocation(a, extra):
    """The options over the defaults, and the flags."""
    options = {"--setup": a.setup, "--image": "image.rom", "--version": "2.1.0",
               "--out": "pkg", "--launcher": a.launcher}
    flags = [x for x in extra if x in ("--zip", "--fast")]
    valued = [x for x in extra if x not in flags]
    options.update(zip(valued[::2], valued[1::2]))
    return options, flags


def check(a, options, flags):
    """What the package folder (and archive) must hold; gives the failures."""
    out = options["--out"]
    want = {"BIOS.rom": Path("image.rom").read_bytes(),
            "Setup.exe": Path(options["--setup"]).read_bytes(),
            "VORNUpdate.ini": f"[VORNUpdate]\r\nVersion={options['--version']}\r\n".encode()}
    got = {p.name: p.read_bytes() for p in Path(out).iterdir()}
    failures = [f"{name} differs" for name in want if got.get(name) != want[name]]
    failures += [] if sorted(got) == FOUR else [f"files {sorted(got)}"]
    signed = "--sign-pkcs12" in options
    if (got.get("Romgate.exe") == Path(a.launcher).read_bytes()) == signed:
        failures.append("Romgate.exe " + ("not signed" if signed else "changed"))
    if signed:
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", "c.pem", "-in",
                                 f"{out}/Romgate.exe"], capture_output=True, text=True)
        if verify.returncode != 0 or "Message digest algorithm  : SHA256" not in verify.stdout:
            failures.append("signature: " + verify.stdout)
        shutil.copy(f"{out}/Romgate.exe", a.signed_out)
    if "--zip" in flags:
        names = zipfile.ZipFile(out + ".zip").namelist()
        digest = hashlib.sha256(Path(out + ".zip").read_bytes()).hexdigest()
        failures += [] if sorted(names) == FOUR else [f"archive holds {names}"]
        if Path(out + ".zip.sha256").read_text() != f"{digest}  {out}.zip\n":
            failures.append("digest file")
    return failures


def run(a, what, extra, status, text):
    options, flags = invocation(a, extra)
    argv = [a.pack, *flags, *(x for option in options.items() for x in option)]
    before = sorted(os.listdir("."))
    result = subprocess.run(argv, capture_output=True, text=True)
    failures = [] if result.returncode == status else [f"exit {result.returncode}"]
    failures += [] if text in result.stderr else [f"stderr {result.stderr!r}"]
    if status == 0:
        failures += check(a, options, flags)
        out = options["--out"]
        subprocess.run(["rm", "-rf", out, out + ".zip", out + ".zip.sha256"])
        os.mkdir(out) if out == "empty" else None
    elif sorted(os.listdir(".")) != before or os.listdir("empty") or \
            sorted(os.listdir("full")) != ["keep"]:
        failures.append(f"left behind: {sorted(set(os.listdir('.')) - set(before))}")
    print(f"{'FAIL' if failures else 'ok  '} {what}" + "".join(f"\n     {f}" for f in failures))
    return bool(failures)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("pack", "launcher", "setup", "signed-out"):
        parser.add_argument("--" + name, required=True, type=os.path.abspath)
    args = parser.parse_args()
    if not os.access(args.pack, os.X_OK):
        sys.exit(f"{args.pack} is not built: cmake --build --preset linux")
    os.makedirs(os.path.dirname(args.signed_out), exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        os.chdir(work)
        prepare(args)
        failed = sum(run(args, *row) for row in rows(args))
    sys.exit(1 if failed else 0)
