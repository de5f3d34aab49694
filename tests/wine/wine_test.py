#!/usr/bin/python3
"""Romgate.exe end to end under Wine, in a fresh prefix on an X server of its
own: each row of ROWS lays out a scenario, runs the
launcher and compares the children it started, the message box it showed
and its debugger trace."""
import argparse, os, re, subprocess, sys, tempfile, time
from pathlib import Path
from subprocess import DEVNULL

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from xserver import XServer  # noqa: E402

PKG, OLD, NEW = r"C:\t\Pkg", r"C:\t\Suite207", r"C:\t\Suite210"
DEFAULT = r"C:\Program Files\Vorn\VornUpdate"
GONG = "C:\\t\\\u529f"  # 功 is A5 5C in code page 950: a 0x5C trail byte
SUITE_KEY = r"HKLM\Software\Vorn\VornUpdate"
PLANTED = [r"C:\Program.exe", r"C:\t\Pkg.exe"]  # where unquoted paths lead
TOOL = ("Warming", "Please terminate the VORNUpdate tool and try again.")
GLORIM = ("Warming", "Please terminate the Glorim tool and try again.")
NO_MANIFEST = ("Error Message", "Can't find VORNUpdate.ini file")
ENV = dict(os.environ, WINEDEBUG="-all", LC_ALL="C.UTF-8",
           WINEDLLOVERRIDES="mscoree,mshtml=")


def trace(packaged, *installed):
    """The trace of one check for each installed version read."""
    return [line for v in installed for line in (
        "Current Version = " + packaged, v, *v.split("."),
        "Installed Version = " + v)]


def setup(pkg=PKG):
    return ("Setup.exe", pkg + r"\Setup.exe -s", "-s")


def flash(location, pkg=PKG):
    return ("Chipburn.exe", rf"{location}\Chipburn.exe {pkg}\BIOS.rom",
            pkg + r"\BIOS.rom")


FLASH_DEFAULT = ("Chipburn.exe", rf'"{DEFAULT}\Chipburn.exe" {PKG}\BIOS.rom',
                 PKG + r"\BIOS.rom")
UPDATED = dict(reg32=("2.0.7", OLD), setup_does="0 0 2.1.0 " + NEW,
               children=[setup(), flash(NEW)],
               trace=trace("2.1.0", "2.0.7", "2.1.0"))
SAME = dict(reg32=("2.1.0", OLD), children=[flash(OLD)],
            trace=trace("2.1.0", "2.1.0"))
OLD_STAYS = dict(reg32=("2.0.7", OLD), children=[setup(), flash(OLD)],
                 trace=trace("2.1.0", "2.0.7", "2.0.7"))


def row(name, **kw):
    """setup_does is what Setup.exe does: "<exit code> <seconds a grandchild
    sleeps> [<version> <folder> it registers]"."""
    return dict(dict(name=name, pkg=PKG, exe="Romgate.exe", version="2.1.0",
                     setup=True, reg32=None, reg64=None, windows=[], args=[],
                     setup_does="", grandchild=False, cp950=False,
                     children=[], box=None, trace=[]), **kw)


ROWS = [
    row("typical: older suite, installer moves it", **UPDATED),
    row("same version: no setup", **SAME),
    row("newer installed, 10.0.0 over 2.1.0: no setup", reg32=("10.0.0", OLD),
        children=[flash(OLD)], trace=trace("2.1.0", "10.0.0")),
    row("no suite, installer registers nothing: default folder",
        children=[setup(), FLASH_DEFAULT]),
    row("record in the 64-bit view only: not seen", reg64=("2.1.0", OLD),
        children=[setup(), FLASH_DEFAULT]),
    row("32-bit view seen, 64-bit view ignored", reg64=("1.0.0", NEW), **SAME),
    row("guard: VORN Update", windows=["VORN Update"], box=TOOL),
    row("guard: VORN GloRim", windows=["VORN GloRim"], box=GLORIM),
    row("guard: both open", windows=["VORN GloRim", "VORN Update"], box=TOOL),
    row("manifest missing", version=None, box=NO_MANIFEST),
    row("manifest with empty Version", version="", box=NO_MANIFEST),
    row(r"suite in Program Files, planted C:\Program.exe never runs",
        reg32=("2.1.0", DEFAULT), children=[FLASH_DEFAULT],
        trace=trace("2.1.0", "2.1.0")),
    row(r"package folder with a space, planted C:\t\Pkg.exe never runs",
        pkg=r"C:\t\Pkg Dir",
        children=[("Setup.exe", r'"C:\t\Pkg Dir\Setup.exe" -s', "-s"),
                  ("Chipburn.exe", rf'"{DEFAULT}\Chipburn.exe" '
                   r'"C:\t\Pkg Dir\BIOS.rom"', r"C:\t\Pkg Dir\BIOS.rom")]),
    row("code page 950: \u529f.exe in folder \u529f", **dict(
        UPDATED, pkg=GONG, exe="\u529f.exe", cp950=True,
        children=[setup(GONG), flash(NEW, GONG)])),
    row("Setup.exe missing: flash still runs",
        **dict(OLD_STAYS, setup=False, children=[flash(OLD)])),
    row("installer fails: second check and flash still run",
        **dict(UPDATED, setup_does="3 0 2.1.0 " + NEW)),
    row("installer leaves a grandchild: not waited for", setup_does="0 10",
        grandchild=True, **OLD_STAYS),
    row("arguments are ignored", args=["/s", "-x", r"C:\t\other.rom"], **SAME),
]


class Deadline(Exception):
    """Something the row waits for did not happen in time: under emulation
    Wine is slow and rarely stalls, so such a row is run once more."""


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            raise Deadline(f"{what} within {seconds} s")
        time.sleep(0.05)


def wine(*argv, wait=True, stderr=DEVNULL, **env):
    """Runs argv in the test prefix; waits for it, or gives the process."""
    process = subprocess.Popen(argv, env=dict(ENV, **env), stdout=DEVNULL,
                               stderr=stderr)
    if not wait:
        return process
    try:
        return process.wait(120)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Deadline(f"{' '.join(argv[:3])} did not end within 120 s")


def i386_mode():
    """How Wine's 32-bit loader runs here; QEMU_VERSION makes an emulator
    that runs it say so."""
    answer = subprocess.run(["/usr/lib/wine/wine", "--version"],
                            env=dict(ENV, QEMU_VERSION="1"),
                            capture_output=True, text=True)
    if answer.returncode != 0:
        sys.exit("this machine runs no 32-bit programs: ./dev test sets up "
                 "an emulator for them")
    first = answer.stdout.partition("\n")[0]
    return "emulated, " + first if first.startswith("qemu") else "native"


def reg(*argv, view="64"):
    wine("wine", "reg", *argv, "/f", "/reg:" + view)


def boot_prefix():
    """Boots a fresh prefix; without a display it would have no windows."""
    # One persistent server spares every later wine call a fresh start.
    os.makedirs(ENV["WINEPREFIX"])
    wine("wineserver", "-p")
    wine("wineboot", "-i")
    # Unmanaged windows close without a 2 s wait; a crash is no dialog.
    reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N")
    reg("add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t",
        "REG_DWORD", "/d", "0")


def lay_out(r, programs):
    """Clears the last row away; lays out this row's package, the suites'
    flashing programs, the planted programs and the registry records."""
    def put(path, data):
        unix = Path(drive_c, *path[3:].split("\\"))
        unix.parent.mkdir(parents=True, exist_ok=True)
        unix.write_bytes(data)
    drive_c = ENV["WINEPREFIX"] + "/drive_c/"
    subprocess.run(["rm", "-rf", drive_c + "t", drive_c + "Program.exe",
                    drive_c + "Program Files/Vorn"])
    for view in ("32", "64"):
        reg("delete", r"HKLM\Software\Vorn", view=view)
        if r["reg" + view]:
            version, location = r["reg" + view]
            reg("add", SUITE_KEY, "/v", "Location", "/d", location, view=view)
            reg("add", SUITE_KEY + "\\" + version, view=view)
    pkg, recorder = r["pkg"] + "\\", Path(programs["recorder"]).read_bytes()
    put(pkg + r["exe"], Path(programs["launcher"]).read_bytes())
    put(pkg + "BIOS.rom", b"\xff" * 64)
    if r["version"] is not None:
        put(pkg + "VORNUpdate.ini",
            f"[VORNUpdate]\r\nVersion={r['version']}\r\n".encode())
    for path in [pkg + "Setup.exe"] * r["setup"] + PLANTED + [
            rf"{suite}\Chipburn.exe" for suite in (OLD, NEW, DEFAULT)]:
        put(path, recorder)


def read(path, codepage="cp1252"):
    return Path(path).read_bytes().decode(codepage, "replace").splitlines() \
        if os.path.exists(path) else []


def run_row(r, work, programs):
    """Opens the row's windows, runs the launcher with a box closer beside
    it and compares what came of it; gives the failures."""
    if r["cp950"] and "zh_TW.utf8" not in subprocess.run(
            ["locale", "-a"], capture_output=True, text=True).stdout.split():
        return ["no zh_TW.UTF-8 locale (localedef -i zh_TW -f UTF-8)"]
    helpers, z = [], "Z:" + work.replace("/", "\\") + "\\"
    env = dict(WINEDEBUG="-all,+debugstr", ROMGATE_TEST_SETUP=r["setup_does"],
               ROMGATE_TEST_LOG=z + "log",
               LC_ALL="zh_TW.UTF-8" if r["cp950"] else ENV["LC_ALL"])
    lay_out(r, programs)
    try:
        for i, title in enumerate(r["windows"]):
            helpers.append(wine("wine", programs["holder"], title,
                                f"{z}ready{i}", wait=False))
            wait_for(lambda: os.path.exists(f"{work}/ready{i}"), 60,
                     f"window {title!r} did not open")
        helpers.append(wine("wine", programs["closer"], z + "boxes", "120",
                            wait=False))
        # A file, not a pipe: a grandchild inherits it and holds it open.
        with open(work + "/err", "wb") as err:
            helpers.append(wine("wine", r["pkg"] + "\\" + r["exe"], *r["args"],
                                wait=False, stderr=err, **env))
            helpers[-1].wait(120)
    except subprocess.TimeoutExpired:
        raise Deadline("the launcher did not end within 120 s (a box left "
                       "open, or a child still running)")
    finally:
        for process in helpers:
            process.kill()
            process.wait()
    runs = [tuple(line.split("\t")) for line in read(
        work + "/log", "cp950" if r["cp950"] else "cp1252")]
    box = [] if r["box"] is None else ["\t".join(r["box"]) + "\t1:OK\t0"]
    texts = [m.group(1).encode("latin-1").decode("unicode_escape") for m in (
        re.search(r'OutputDebugStringA "(.*)"$', line)
        for line in read(work + "/err", "latin-1")) if m]
    failures = [f"{what}: expected {want}, got {got}" for what, want, got in (
        ("children", r["children"], runs), ("trace", r["trace"], texts),
        ("boxes (caption, text, buttons, icon)", box, read(work + "/boxes")))
        if want != got]
    # A grandchild that ran before the launcher ended is an extra child.
    if r["grandchild"]:
        wait_for(lambda: len(read(work + "/log")) > len(runs), 60,
                 "the installer's grandchild logged no run after the "
                 "launcher ended")
    return failures


RETRIED = []


def run_with_retry(r, work, programs):
    """A row that misses a deadline is run once more; a second miss fails."""
    for attempt in ("", "-again"):
        os.makedirs(work + attempt)
        try:
            return run_row(r, work + attempt, programs)
        except Deadline as missed:
            if attempt:
                return [f"{missed}, twice"]
            RETRIED.append(missed)
            print(f"     retrying: {missed}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("launcher", "recorder", "holder", "closer"):
        parser.add_argument("--" + name, required=True, type=os.path.abspath)
    programs, failed, started = vars(parser.parse_args()), 0, time.monotonic()
    with tempfile.TemporaryDirectory(prefix="romgate-wine-",
                                     ignore_cleanup_errors=True) as root, \
            XServer() as x:
        ENV.update(WINEPREFIX=root + "/prefix", DISPLAY=x.display)
        print("32-bit programs:", i386_mode(), flush=True)
        try:
            boot_prefix()
        except Deadline as missed:
            wine("wineserver", "-k")
            sys.exit(f"the test prefix did not boot: {missed}")
        try:
            for i, r in enumerate(ROWS, 1):
                failures = run_with_retry(r, f"{root}/row{i}", programs)
                failed += bool(failures)
                print(f"{'FAIL' if failures else 'ok  '} row {i}: {r['name']}")
                for failure in failures:
                    print(f"     row {i}: {failure}", flush=True)
        finally:
            wine("wineserver", "-k")
    print(f"{len(ROWS) - failed} of {len(ROWS)} rows passed in "
          f"{time.monotonic() - started:.0f} s, {len(RETRIED)} run again")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
