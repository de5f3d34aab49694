#!/usr/bin/python3
"""romgate-pack on a table of invocations: each good one lays out exactly the
package, each bad one is refused and leaves nothing behind; then on runs held
on a FIFO image. Time stamps come from a throwaway authority on 127.0.0.1. The signed launcher is kept for the tests that check and run it."""
import argparse
import datetime
import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

FOUR = ["BIOS.rom", "Romgate.exe", "Setup.exe", "VORNUpdate.ini"]
USAGE, REFUSED = 2, 1
IMAGE = bytes(range(256)) * 16
SIGN = ["--sign-pkcs12", "k.p12", "--sign-pass-file", "pass"]
CA_SIGN = ["--sign-pkcs12", "leaf.p12", "--sign-pass-file", "pass"]
PE = str(Path(__file__).resolve().parents[2] / "fuzz/corpus/pe_facts/romgate-")  # patched copies


def rows(a):
    """(what, arguments over the defaults, exit status, text on stderr[, how to run])."""
    no_path, shm = dict(os.environ, PATH="/nonexistent"), dict(os.environ, TMPDIR="/dev/shm")
    return [
        ("plain", [], 0, ""),
        ("two components", ["--version", "2.1"], 0, ""),
        ("into an empty folder", ["--out", "empty"], 0, ""),
        ("zipped, no zip program on PATH", ["--zip"], 0, "", {"env": no_path}),
        ("3 GiB sparse image in 1 GiB of memory", ["--image", "huge.rom"], 0, "",
         {"preexec_fn": lambda: resource.setrlimit(resource.RLIMIT_AS, (1 << 30,) * 2)}),
        ("image from a pipe", ["--image", "/dev/stdin"], 0, "", {"input": IMAGE}),
        ("signed", SIGN, 0, ""),
        ("signed, TMPDIR on another file system", SIGN, 0, "", {"env": shm}),
        ("password line ends in CRLF", [*SIGN[:3], "crlf"], 0, ""),
        ("password line and more lines", [*SIGN[:3], "lines"], 0, ""),
        ("password from a pipe", [*SIGN[:3], "/dev/stdin"], 0, "", {"input": b"secret\n"}),
        ("key of a CA, its root given", [*CA_SIGN, "--ca-file", "root.pem"], 0, ""),
        ("key of a CA, no root", CA_SIGN, REFUSED,
         "unable to get issuer certificate (issuer /CN=Romgate test root); give that root"),
        ("time-stamped", [*CA_SIGN, "--ca-file", "root.pem", "--timestamp-url", a.tsa], 0, ""),
        ("time-stamped by an authority not trusted", [*SIGN, "--timestamp-url", a.tsa], REFUSED,
         "self-signed certificate in certificate chain (the authority's root must be among"),
        ("time-stamp authority not listening", [*SIGN, "--timestamp-url", a.closed], REFUSED,
         "it must be reachable from here and answer RFC 3161 queries"),
        ("no osslsigncode on PATH", SIGN, REFUSED, "osslsigncode is missing", {"env": no_path}),
        ("zipped, a backslash in the name", ["--zip", "--out", "a\\b"], 0, ""),
        ("zipped, a line break in the name", ["--zip", "--out", "a\nb"], 0, ""),
        ("zipped, a folder named like an option", ["--zip", "--out", "-p/pkg"], 0, ""),
        ("name of 255 characters", ["--out", "n" * 255], 0, ""),
        ("name of 256 characters", ["--out", "n" * 256], REFUSED, "the name is too long"),
        ("name of 255 characters, zipped", ["--zip", "--out", "n" * 255], REFUSED,
         "n.zip: the name is too long"),
        ("under a file", ["--out", "old.zip/pkg"], REFUSED, "a part of its path is not a folder"),
        ("a link to an empty folder", ["--out", "link"], REFUSED, "it is a symbolic link"),
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
         "reads as 2147483647; Romgate would read it as 2147483647.0.0"),
        ("255 characters", ["--version", "0" * 250 + "2.1.5"], REFUSED,
         "only its first 254 characters; Romgate would read it as 2.1.0"),
        ("254 characters", ["--version", "0" * 249 + "2.1.5"], 0, ""),
        ("two dots", ["--version", "2..1"], REFUSED, "empty; Romgate would read it as 2.1.0"),
        ("installer not a program", ["--setup", "image.rom"], REFUSED,
         "not a Windows GUI or console program"),
        ("installer beyond 256 MiB", ["--setup", "huge.rom"], REFUSED, "than the 268435456 bytes"),
        ("installer for x64", ["--setup", PE + "amd64"], 0, ""),
        ("installer for ARM64", ["--setup", PE + "arm64"], 0, ""),
        ("installer for machine 0", ["--setup", PE + "machine_0"], REFUSED, "not a Windows GUI or"),
        ("installer an EFI application", ["--setup", PE + "efi"], REFUSED, "i386, AMD64 or ARM64"),
        ("launcher for x64", ["--launcher", PE + "amd64"], REFUSED, "not a 32-bit Windows GUI"),
        ("launcher PE32+", ["--launcher", PE + "pe32_plus"], REFUSED, "GUI program (PE32, i386)"),
        ("launcher a console program", ["--launcher", PE + "console"], REFUSED, "not a 32-bit"),
        ("empty image", ["--image", "empty.rom"], REFUSED, "it is empty"),
        ("missing image", ["--image", "none.rom"], REFUSED, "none.rom: No such file"),
        ("folder not empty", ["--out", "full"], REFUSED, "not an empty folder"),
        ("archive exists", ["--zip", "--out", "old"], REFUSED, "old.zip or its .sha256 exists"),
        ("wrong password", [*SIGN[:3], "wrong"], REFUSED, "pass file is not its password"),
        ("no --out", ["--out", ""], USAGE, "are needed"),
        ("unknown", ["--fast"], USAGE, "unknown argument --fast"),
        ("key without password", ["--sign-pkcs12", "k.p12"], USAGE, "go together"),
        ("time stamp without a key", ["--timestamp-url", a.tsa], USAGE, "goes with --sign-pkcs12"),
        ("time stamp, empty URL", [*SIGN, "--timestamp-url", ""], USAGE, "needs a URL"),
    ]


def prepare(a):
    """The inputs of the rows in the current folder."""
    Path("image.rom").write_bytes(IMAGE)
    with open("huge.rom", "wb") as huge:
        huge.seek((2 << 30) + 12345)
        huge.write(IMAGE)
        huge.truncate(3 << 30)
    Path("empty.rom").write_bytes(b"")
    os.mkdir("empty")
    os.mkdir("full")
    os.mkdir("-p")
    os.symlink("empty", "link")
    os.mkfifo("fifo.rom")
    Path("full/keep").write_text("kept")
    Path("old.zip").write_text("kept")
    Path("pass").write_text("secret\n")
    Path("wrong").write_text("wrong\n")
    Path("crlf").write_bytes(b"secret\r\n")
    Path("lines").write_text("secret\nsecond line\n")
    for argv in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "k.pem", "-out",
                  "c.pem", "-days", "2", "-subj", "/CN=Romgate test signer", "-addext",
                  "extendedKeyUsage=codeSigning"],
                 ["pkcs12", "-export", "-inkey", "k.pem", "-in", "c.pem", "-out", "k.p12",
                  "-passout", "file:pass"],
                 *ca_chain(), ["pkcs12", "-export", "-inkey", "leaf.key", "-in", "leaf.pem", "-certfile",
                  "inter.pem", "-out", "leaf.p12", "-passout", "file:pass"]):
        subprocess.run(["openssl", *argv], check=True, capture_output=True)
    os.mkdir("tsa")  # the authority's own folder, out of the rows' sight
    for name in ("tsa.key", "tsa.pem"):
        os.rename(name, "tsa/" + name)
    shutil.copy("root.pem", "tsa")


def ca_chain():
    """A throwaway root, an intermediate, a leaf that signs code and a time-stamp authority."""
    def cert(name, issuer, ca, *more):
        return ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                name + ".pem", "-days", "2", "-subj", "/CN=Romgate test " + name, "-addext",
                "basicConstraints=critical,CA:" + ca, *more,
                *(["-CA", issuer + ".pem", "-CAkey", issuer + ".key"] if issuer else [])]
    return [cert("root", "", "TRUE"), cert("inter", "root", "TRUE"),
            cert("leaf", "inter", "FALSE", "-addext", "extendedKeyUsage=codeSigning"),
            cert("tsa", "root", "FALSE", "-addext", "extendedKeyUsage=critical,timeStamping")]


def invocation(a, extra):
    """The command line, the options over the defaults, and the flags."""
    options = {"--setup": a.setup, "--image": "image.rom", "--version": "2.1.0",
               "--out": "pkg", "--launcher": a.launcher}
    flags = [x for x in extra if x in ("--zip", "--fast")]
    valued = [x for x in extra if x not in flags]
    options.update(zip(valued[::2], valued[1::2]))
    return [a.pack, *flags, *(x for option in options.items() for x in option)], options, flags


def check(a, options, flags, stdout):
    """What the package folder (and archive) must hold; gives the failures."""
    out = options["--out"]
    image = {"/dev/stdin": "image.rom"}.get(options["--image"], options["--image"])
    want = {"Setup.exe": Path(options["--setup"]).read_bytes(),
            "VORNUpdate.ini": f"[VORNUpdate]\r\nVersion={options['--version']}\r\n".encode()}
    got = {p.name: p.read_bytes() for p in Path(out).iterdir() if p.name != "BIOS.rom"}
    failures = [f"{name} differs" for name in want if got.get(name) != want[name]]
    failures += [] if sorted(os.listdir(out)) == FOUR else [f"files {os.listdir(out)}"]
    if subprocess.run(["cmp", "--", image, f"{out}/BIOS.rom"]).returncode != 0 or \
            os.stat(f"{out}/BIOS.rom").st_blocks > os.stat(image).st_blocks + 64:
        failures.append("BIOS.rom differs or is not as sparse")
    signed = "--sign-pkcs12" in options
    if (got.get("Romgate.exe") == Path(a.launcher).read_bytes()) == signed:
        failures.append("Romgate.exe " + ("not signed" if signed else "changed"))
    if signed:
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", options.get(
            "--ca-file", "c.pem"), "-in", f"{out}/Romgate.exe"], capture_output=True, text=True)
        if verify.returncode != 0 or "Message digest algorithm  : SHA256" not in verify.stdout:
            failures.append("signature: " + verify.stdout)
        shutil.copy(f"{out}/Romgate.exe", a.signed_out)
    stamp = re.search(r"time-stamped (\S+ \S+) UTC\n", stdout)
    now = datetime.datetime.utcnow()
    if bool(stamp) != ("--timestamp-url" in options) or stamp and abs(
            datetime.datetime.fromisoformat(stamp[1]) - now) > datetime.timedelta(minutes=1):
        failures.append(f"time stamp in {stdout!r}")
    if "--zip" in flags:
        archive = zipfile.ZipFile(out + ".zip")
        failures += [] if sorted(archive.namelist()) == FOUR else ["archive holds other files"]
        failures += [f"{i.filename} in the archive differs" for i in archive.infolist()
                     if i.date_time != (1980, 1, 1, 0, 0, 0)
                     or archive.read(i) != Path(out, i.filename).read_bytes()]
        if subprocess.run(["sha256sum", "-c", "--", os.path.basename(out) + ".zip.sha256"],
                          cwd=os.path.dirname(out) or ".", capture_output=True).returncode:
            failures.append("digest file")
    return failures


def report(what, failures):
    print(f"{'FAIL' if failures else 'ok  '} {what}" + "".join(f"\n     {f}" for f in failures))
    return bool(failures)


def run(a, what, extra, status, text, how=None):
    argv, options, flags = invocation(a, extra)
    before = sorted(os.listdir("."))
    result = subprocess.run(argv, capture_output=True, **(how or {}))
    failures = [] if result.returncode == status else [f"exit {result.returncode}"]
    failures += [] if text in result.stderr.decode() else [f"stderr {result.stderr!r}"]
    if status == result.returncode == 0:
        failures += check(a, options, flags, result.stdout.decode())
        out = options["--out"]
        for path in (out + ".zip", out + ".zip.sha256") if flags else ():
            os.remove(path)
        shutil.rmtree(out)
        os.mkdir(out) if out == "empty" else None
    elif sorted(os.listdir(".")) != before or os.listdir("empty") or \
            sorted(os.listdir("full")) != ["keep"]:
        failures.append(f"left behind: {sorted(set(os.listdir('.')) - set(before))}")
    return report(what, failures)


def held(a, out, *flags):
    """romgate-pack copying a FIFO image that has its first bytes and no end yet."""
    writer = os.open("fifo.rom", os.O_RDWR)
    os.write(writer, b"firmware")
    pack = subprocess.Popen(invocation(a, [*flags, "--image", "fifo.rom", "--out", out])[0],
                            stderr=subprocess.PIPE, text=True)
    while pack.poll() is None and not [n for n in os.listdir(".") if n[:14] == ".romgate-pack-"]:
        time.sleep(0.05)
    return pack, writer


def interrupted(a):
    """Runs held on their image: meanwhile another run sweeps only what killed runs of this
    machine left; a DIR.zip made meanwhile is kept; a signal leaves nothing behind."""
    before = sorted(os.listdir("."))
    pack, writer = held(a, "late", "--zip")
    stale = [f".romgate-pack-{pid}@{host}-XXXXXX" for pid, host in [
        (1 << 22 | 1, socket.gethostname()), (os.getpid(), socket.gethostname()), (1, "other")]]
    for name in stale:
        os.makedirs(name + "/package")
    subprocess.run(invocation(a, ["--out", "other"])[0], check=True, capture_output=True)
    failures = [f"swept: {n}" for n in stale if os.path.exists(n) != n.endswith("@other-XXXXXX")]
    Path("late.zip").write_text("kept")
    os.close(writer)
    failures += [] if pack.wait(60) == REFUSED and "late.zip: File exists" in pack.stderr.read() \
        and Path("late.zip").read_text() == "kept" else ["late.zip replaced or not refused"]
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        pack, writer = held(a, "pkg")
        pack.send_signal(sig)
        failures += [] if pack.wait(60) == -sig else [f"{sig}: exit {pack.returncode}"]
        os.close(writer)
    shutil.rmtree("other")
    shutil.rmtree(stale[2])
    os.remove("late.zip")
    failures += [] if sorted(os.listdir(".")) == before else [f"left {os.listdir('.')}"]
    return report("held on a FIFO: swept, not replaced, interrupted", failures)


def hostile_zip(name, *entries):
    """A zip of the four files of good/ and the given entries: names, or (name, unix mode)."""
    with zipfile.ZipFile(name, "w") as archive:
        for file in FOUR:
            archive.write("good/" + file, file)
        for entry, mode in ((e, 0o100644) if isinstance(e, str) else e for e in entries):
            info = zipfile.ZipInfo(entry)
            info.create_system, info.external_attr = 3, mode << 16
            archive.writestr(info, b"MZ")
    return name


def altered(name, change):
    """A copy of the good package folder, changed."""
    shutil.copytree("good", name)
    change(Path(name))
    return name


def check_rows(a):
    """(what, --check arguments, exit status, text in the output): the package built as good.zip,
    signed by a key of a CA and time-stamped, and copies of it with one fault each."""
    def flip(path):
        data = bytearray(Path("good.zip").read_bytes())
        data[len(data) // 2] ^= 1
        Path(path).write_bytes(data)
        shutil.copy("good.zip.sha256", path + ".sha256")
        return path
    ca, manifest = ["--ca-file", "root.pem"], "VORNUpdate.ini"
    return [
        ("good zip", ["good.zip", *ca], 0, "signed by CN=Romgate test leaf, signature verified "
         f"up to a root of --ca-file, time-stamped {time.strftime('%Y-%m-%d', time.gmtime())}"),
        ("good zip, another root", ["good.zip", "--ca-file", "c.pem"], REFUSED,
         "error: Romgate.exe's signature does not verify against --ca-file"),
        ("good folder, no --ca-file", ["good"], 0, "not verified (no --ca-file)"),
        ("a tampered byte", [flip("tampered.zip")], REFUSED, "the zip was changed or cut"),
        ("no digest beside it", [shutil.copy("good.zip", "bare.zip")], 0,
         "no bare.zip.sha256 beside it"),
        ("a fifth file", [altered("five", lambda p: (p / "notes.txt").write_text("x"))], 0,
         "warning: another file in the package: notes.txt"),
        ("a missing file", [altered("three", lambda p: (p / "BIOS.rom").unlink())], REFUSED,
         "error: missing: BIOS.rom"),
        ("a UTF-8 byte-order mark", [altered("bom", lambda p: (p / manifest).write_bytes(
            b"\xef\xbb\xbf[VORNUpdate]\r\nVersion=2.1.0\r\n"))], REFUSED, "UTF-8 byte-order mark"),
        ("a version Romgate misreads", [altered("beta", lambda p: (p / manifest).write_text(
            "[VORNUpdate]\nVersion=2.1.0-beta\n"))], REFUSED, "Romgate would read it as 2.1.0"),
        ("an x64 launcher", [altered("x64", lambda p: shutil.copy(PE + "amd64", p / "Romgate.exe"))],
         REFUSED, "Romgate.exe: not a 32-bit Windows GUI program"),
        ("entry ../evil.exe", [hostile_zip("up.zip", "../evil.exe")], REFUSED,
         "\"../evil.exe\": its path has a \"..\" component"),
        ("an absolute entry", [hostile_zip("abs.zip", "/tmp/evil.exe")], REFUSED, "is absolute"),
        ("a drive letter", [hostile_zip("drive.zip", "C:evil.exe")], REFUSED, "drive letter"),
        ("names alike but for case", [hostile_zip("case.zip", "setup.EXE")], REFUSED,
         "or the same but for case"),
        ("a folder in the zip", [hostile_zip("nested.zip", "docs/x.txt")], 0,
         "warning: another file in the package: docs/x.txt"),
        ("a link entry", [hostile_zip("link.zip", ("evil", 0o120777))], REFUSED, "symbolic link"),
        ("installed older", ["good", "--installed", "2.0.7"], 0,
         "Romgate installs the packaged suite 2.1.0 (newer than 2.0.7), then flashes"),
        ("installed newer", ["good", "--installed", "2.10"], 0, "Romgate flashes only"),
        ("installed equal", ["good", "--installed", "2.1.0"], 0, "Romgate flashes only"),
        ("installed none", ["good", "--installed", "none"], 0, "(no suite registered), then"),
        ("no path", [""], USAGE, "--check needs a package folder or zip"),
    ]


def checks(a):
    """--check on each row; nothing written but in its own temporary folder, gone at the end."""
    subprocess.run(invocation(a, ["--zip", *CA_SIGN, "--ca-file", "root.pem", "--timestamp-url",
                                  a.tsa, "--out", "good"])[0], check=True, capture_output=True)
    failed, scratch = 0, os.path.abspath("check-tmp")
    os.mkdir(scratch)
    for what, args, status, text in check_rows(a):
        before = sorted(os.listdir("."))
        result = subprocess.run([a.pack, "--check", *args], capture_output=True, text=True,
                                env=dict(os.environ, TMPDIR=scratch))
        failures = [] if result.returncode == status else [f"exit {result.returncode}"]
        failures += [] if text in result.stdout + result.stderr else [result.stdout + result.stderr]
        failures += [] if sorted(os.listdir(".")) == before and not os.listdir(scratch) else \
            ["left behind"]
        failed += report("--check: " + what, failures)
    return failed


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
        tsa = subprocess.Popen([sys.executable, Path(__file__).with_name("tsa_server.py"), "tsa"],
                               stdout=subprocess.PIPE, text=True)
        args.tsa = "http://127.0.0.1:" + tsa.stdout.readline().strip()
        with socket.socket() as closed:  # a port just freed, where nothing listens
            closed.bind(("127.0.0.1", 0))
            args.closed = f"http://127.0.0.1:{closed.getsockname()[1]}"
        failed = sum(run(args, *row) for row in rows(args)) + interrupted(args) + checks(args)
        tsa.kill()
        tsa.wait()
    sys.exit(1 if failed else 0)
