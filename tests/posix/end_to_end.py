#!/usr/bin/python3
"""The romgate binary end to end, on temporary prefixes and packages.

Each row of SCENARIOS sets up a package folder, a prefix (drive C and the
registry file) and any guard windows, runs romgate, and compares the
children it started (program, argv, order), its messages and its trace.
Stand-in children are shell scripts that log how they were started.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from xserver import XServer  # noqa: E402

RECORDER = r"""#!/bin/sh
{ printf '%s' "$0"; for a in "$@"; do printf ' <%s>' "$a"; done; echo; } >> "$TEST_LOG"
[ "$(basename "$0")" = Setup.exe ] || exit 0
case ${TEST_SETUP:-} in
register)
    mkdir -p "$ROMGATE_PREFIX/drive_c/Program Files/Vorn/VornUpdate"
    cp "$0" "$ROMGATE_PREFIX/drive_c/Program Files/Vorn/VornUpdate/Chipburn.exe"
    printf '%s\n' 'REGEDIT4' '[HKEY_LOCAL_MACHINE\Software\Vorn\VornUpdate]' \
        '"Location"="C:\\Program Files\\Vorn\\VornUpdate"' \
        '[HKEY_LOCAL_MACHINE\Software\Vorn\VornUpdate\2.1.0]' \
        > "$ROMGATE_PREFIX/registry.reg" ;;
fail) exit 3 ;;
grandchild) sleep 6 </dev/null >/dev/null 2>&1 & echo $! > "$TEST_LOG.grandchild" ;;
esac
"""

TRACE_FIRST = ["Current Version = 2.1.0", "2.0.7", "2", "0", "7",
               "Installed Version = 2.0.7"]
TRACE_SAME = ["Current Version = 2.1.0", "2.1.0", "2", "1", "0",
              "Installed Version = 2.1.0"]
WARN_UPDATE = "Warming: Please terminate the VORNUpdate tool and try again."
WARN_GLORIM = "Warming: Please terminate the Glorim tool and try again."
NO_MANIFEST = "Error Message: Can't find VORNUpdate.ini file"

SETUP = "{pkg}/Setup.exe <-s>"
FLASH_SUITE = "{c}/Suite/Chipburn.exe <{winpkg}\\BIOS.rom>"
FLASH_DEFAULT = ("{c}/Program Files/Vorn/VornUpdate/Chipburn.exe"
                 " <{winpkg}\\BIOS.rom>")

# name, registered (location, version) or None, setup behaviour, options,
# expected children, expected message lines, expected trace
SCENARIOS = [
    ("typical run", ("C:\\Suite", "2.0.7"), "register", {},
     [SETUP, FLASH_DEFAULT], [], TRACE_FIRST + TRACE_SAME),
    ("same version", ("C:\\Suite", "2.1.0"), "register", {},
     [FLASH_SUITE], [], TRACE_SAME),
    ("newer installed", ("C:\\Suite", "3.0.0"), "register", {},
     [FLASH_SUITE], [], None),
    ("nothing registered, installer registers nothing", None, "nothing", {},
     [SETUP, FLASH_DEFAULT], [], []),
    ("missing Setup.exe", None, None, {}, [FLASH_DEFAULT], [], []),
    ("installer fails", ("C:\\Suite", "2.0.7"), "fail", {},
     [SETUP, FLASH_SUITE], [], TRACE_FIRST + TRACE_FIRST),
    ("installer leaves a grandchild", ("C:\\Suite", "2.0.7"), "grandchild",
     {"max_seconds": 4}, [SETUP, FLASH_SUITE], [], None),
    ("empty Location, current directory on C:", ("", "2.1.0"), "nothing",
     {"cwd_on_c": True}, ["{c}/Chipburn.exe <{winpkg}\\BIOS.rom>"], [], None),
    ("package folder with a space", ("C:\\Suite", "2.0.7"), "nothing",
     {"package": "my package"}, [SETUP, FLASH_SUITE], [], None),
    ("arguments ignored", ("C:\\Suite", "2.1.0"), "register",
     {"args": ["-s", "VORN Update", "/?"]}, [FLASH_SUITE], [], TRACE_SAME),
    ("registry file in UTF-16LE", ("C:\\Suite", "2.1.0"), "register",
     {"encoding": "utf-16"}, [FLASH_SUITE], [], TRACE_SAME),
    ("truncated registry file: unreadable, setup and default folder",
     ("C:\\Suite", "2.1.0"), "nothing", {"registry_cut": 60},
     [SETUP, FLASH_DEFAULT], [], []),
    ("manifest after a megabyte line of binary", ("C:\\Suite", "2.1.0"),
     "register", {"manifest": "\x01\xff" * 2**19 + "\n[VORNUpdate]\nVersion=2.1.0\n"},
     [FLASH_SUITE], [], TRACE_SAME),
    ("manifest path of 255 characters", ("C:\\Suite", "2.1.0"), "register",
     {"package_length": 240}, [FLASH_SUITE], [], TRACE_SAME),
    ("manifest path of 256 characters", ("C:\\Suite", "2.1.0"), "register",
     {"package_length": 241}, [], [NO_MANIFEST], []),
    ("missing manifest", ("C:\\Suite", "2.0.7"), "register",
     {"manifest": None}, [], [NO_MANIFEST], []),
    ("empty Version", ("C:\\Suite", "2.0.7"), "register",
     {"manifest": "[VORNUpdate]\nVersion=\n"}, [], [NO_MANIFEST], []),
    ("VORN Update open", ("C:\\Suite", "2.0.7"), "register",
     {"windows": ["VORN Update"]}, [], [WARN_UPDATE], []),
    ("VORN GloRim open", ("C:\\Suite", "2.0.7"), "register",
     {"windows": ["vorn glorim"]}, [], [WARN_GLORIM], []),
    ("both tools open", ("C:\\Suite", "2.0.7"), "register",
     {"windows": ["VORN GloRim", "VORN Update"]}, [], [WARN_UPDATE], []),
]


def windows_path(host):
    return "Z:" + host.replace("/", "\\")


def write_registry(prefix, registered, encoding="utf-8", cut=None):
    if registered is None:
        return
    location, version = registered
    escaped = location.replace("\\", "\\\\")
    with open(os.path.join(prefix, "registry.reg"), "w",
              encoding=encoding) as reg:
        reg.write("Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\Software\\Vorn\\VornUpdate]\n"
                  f'"Location"="{escaped}"\n\n'
                  f"[HKEY_LOCAL_MACHINE\\Software\\Vorn\\VornUpdate\\{version}]\n")
    if cut is not None:
        os.truncate(os.path.join(prefix, "registry.reg"), cut)


def package_folder(work, length):
    """A folder under work whose Windows path has exactly length characters."""
    folder = work
    while (left := length - len(windows_path(folder))) > 0:
        size = min(left - 1, 100)
        size -= left - 1 - size == 1  # never leave room for a bare separator
        folder = os.path.join(folder, "d" * size)
    return folder


def install_recorder(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as script:
        script.write(RECORDER)
    os.chmod(path, 0o755)


class Display(XServer):
    """An X server of the test's own, and windows opened on it."""

    def __init__(self, window_holder):
        super().__init__()
        self.window_holder = window_holder

    def open_window(self, title):
        holder = subprocess.Popen([self.window_holder, title],
                                  env=dict(os.environ, DISPLAY=self.display),
                                  stdout=subprocess.PIPE, text=True)
        if holder.stdout.readline().strip() != "ready":
            raise RuntimeError(f"window {title!r} did not open")
        return holder


def build_world(row, romgate, work):
    """The package folder and the prefix of a row; gives their paths."""
    name, registered, setup, options = row[:4]
    prefix = os.path.join(work, "prefix")
    drive_c = os.path.join(prefix, "drive_c")
    package = (package_folder(work, options["package_length"])
               if "package_length" in options
               else os.path.join(work, options.get("package", "package")))
    os.makedirs(os.path.join(drive_c, "windows"))
    os.makedirs(package)
    shutil.copy(romgate, os.path.join(package, "romgate"))
    shutil.copy(os.path.join(ARGS.examples, "package", "BIOS.rom"), package)
    manifest = options.get("manifest", "[VORNUpdate]\nVersion=2.1.0\n")
    if manifest is not None:
        with open(os.path.join(package, "VORNUpdate.ini"), "w") as ini:
            ini.write(manifest)
    if setup is not None:
        install_recorder(os.path.join(package, "Setup.exe"))
    for folder in ("Suite", "Program Files/Vorn/VornUpdate", ""):
        install_recorder(os.path.join(drive_c, folder, "Chipburn.exe"))
    # Planted where an unquoted C:\Program Files\... would find it first.
    install_recorder(os.path.join(drive_c, "Program.exe"))
    write_registry(prefix, registered, options.get("encoding", "utf-8"),
                   options.get("registry_cut"))
    return package, prefix, drive_c


def run_scenario(row, romgate, display, work):
    name, registered, setup, options, children, messages, trace = row
    package, prefix, drive_c = build_world(row, romgate, work)
    log = os.path.join(work, "children.log")
    cwd = drive_c if options.get("cwd_on_c") else work
    env = dict(os.environ, ROMGATE_PREFIX=prefix, ROMGATE_DEBUG="1",
               TEST_LOG=log, TEST_SETUP=setup or "", DISPLAY=display.display)
    holders = [display.open_window(t) for t in options.get("windows", [])]
    try:
        started = time.monotonic()
        result = subprocess.run(
            [os.path.join(package, "romgate")] + options.get("args", []),
            cwd=cwd, env=env, capture_output=True, text=True, timeout=30)
        seconds = time.monotonic() - started
    finally:
        for holder in holders:
            holder.terminate()
            holder.wait()
        if os.path.exists(log + ".grandchild"):
            with open(log + ".grandchild") as pid:
                os.kill(int(pid.read()), 15)

    names = {"pkg": package, "c": drive_c, "winpkg": windows_path(package)}
    expected = [c.format(**names) for c in children]
    got = open(log).read().splitlines() if os.path.exists(log) else []
    lines = result.stderr.splitlines()
    got_messages = [l for l in lines if not l.startswith("debug: ")]
    got_trace = [l[len("debug: "):] for l in lines if l.startswith("debug: ")]
    checks = [("exit status", result.returncode, 0), ("children", got, expected),
              ("messages", got_messages, messages), ("trace", got_trace, trace)]
    failures = [f"{what} {value!r}, expected {want!r}"
                for what, value, want in checks
                if want is not None and value != want]
    if seconds > options.get("max_seconds", 30):
        failures.append(f"took {seconds:.1f} s")
    return failures


def run_sample_package(romgate, work):
    """The bundled sample package installs 2.1.0 over 2.0.7 and flashes."""
    prefix = os.path.join(work, "prefix")
    package = os.path.join(work, "package")
    os.makedirs(os.path.join(prefix, "drive_c"))
    shutil.copytree(os.path.join(ARGS.examples, "package"), package)
    shutil.copy(romgate, package)
    write_registry(prefix, ("C:\\Old Suite", "2.0.7"))
    result = subprocess.run([os.path.join(package, "romgate")],
                            env=dict(os.environ, ROMGATE_PREFIX=prefix),
                            capture_output=True, text=True, timeout=30)
    image = windows_path(package) + "\\BIOS.rom"
    want = f"Chipburn (sample): would flash {image} (4096 bytes, cksum "
    out = result.stdout.splitlines()
    if not (out and out[0].startswith("Setup (sample): installing")
            and out[-1].startswith(want)):
        return [f"sample package printed {out!r}, stderr {result.stderr!r}"]
    return []


def main():
    failures = 0
    with Display(ARGS.window_holder) as display:
        rows = [(row[0], lambda w, row=row: run_scenario(
            row, ARGS.romgate, display, w)) for row in SCENARIOS]
        rows.append(("sample package", lambda w: run_sample_package(
            ARGS.romgate, w)))
        for number, (name, run) in enumerate(rows, 1):
            with tempfile.TemporaryDirectory() as work:
                problems = run(work)
            status = "ok" if not problems else "FAILED"
            print(f"{number:2} {status:6} {name}")
            for problem in problems:
                print(f"          {problem}")
            failures += bool(problems)
    print(f"{len(rows) - failures} of {len(rows)} scenarios passed")
    return 1 if failures else 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--romgate", required=True)
    parser.add_argument("--window-holder", required=True)
    parser.add_argument("--examples", required=True)
    ARGS = parser.parse_args()
    sys.exit(main())
