"""The launcher end to end: one table of scenarios for both builds.

A row says what the world is, in the launcher's own terms, and what must
come of it. A driver (romgate on a Linux prefix, Romgate.exe under Wine)
lays the world out, runs the launcher and reads back the children it
started, its message boxes and its debugger trace. A row that only one
platform can express names that platform in `only`.
"""
import io
import os
import re
import time

PKG, OLD, NEW = r"C:\t\Pkg", r"C:\t\Suite207", r"C:\t\Suite210"
DEFAULT = r"C:\Program Files\Vorn\VornUpdate"
GONG = "C:\\t\\\u529f"  # 功 is A5 5C in code page 950: a 0x5C trail byte
# Where unquoted paths lead: C:\Program Files\... and C:\t\Pkg Dir\...
PLANTED = [r"C:\Program.exe", r"C:\t\Pkg.exe"]
# Each holds a recording Chipburn.exe; the last is where "%SystemDrive%" leads
# from C:\ when it is not expanded.
SUITES = [OLD, NEW, DEFAULT, "C:", r"C:\%SystemDrive%"]
TOOL = ("Warming", "Please terminate the VORNUpdate tool and try again.")
GLORIM = ("Warming", "Please terminate the Glorim tool and try again.")
NO_MANIFEST = ("Error Message", "Can't find VORNUpdate.ini file")
MANIFEST = "[VORNUpdate]\r\nVersion=2.1.0\r\n"


def trace(packaged, *installed):
    """The trace of one check for each installed version read."""
    return [line for v in installed for line in (
        "Current Version = " + packaged, v, *v.split("."),
        "Installed Version = " + v)]


def quoted(path):
    return f'"{path}"' if " " in path else path


def setup(pkg=PKG):
    return quoted(pkg + r"\Setup.exe") + " -s"


def flash(location, pkg=PKG):
    return quoted(location + r"\Chipburn.exe") + " " + quoted(pkg + r"\BIOS.rom")


def folder_of_length(n):
    """A package folder whose path has n characters, so that the manifest
    path beside it has n + 15."""
    path = r"C:\t"
    while len(path) < n:
        path += "\\" + "d" * min(100, n - len(path) - 1)
    return path


def row(name, **kw):
    """setup_does is what Setup.exe does: "<exit code> <seconds a
    grandchild lives> [<version> <folder> it registers]". A child is its
    command line, or (command line, the program that runs)."""
    return dict(dict(
        name=name, only=None, pkg=PKG, exe=None, manifest=MANIFEST,
        setup=True, registered=None, location_type="REG_SZ", reg64=None,
        windows=[], setup_does="", args=[], cwd_on_c=False, cp950=False,
        children=[], box=None, trace=[], grandchild=False), **kw)


UPDATED = dict(registered=("2.0.7", OLD), setup_does="0 0 2.1.0 " + NEW,
               children=[setup(), flash(NEW)],
               trace=trace("2.1.0", "2.0.7", "2.1.0"))
SAME = dict(registered=("2.1.0", OLD), children=[flash(OLD)],
            trace=trace("2.1.0", "2.1.0"))
OLD_STAYS = dict(registered=("2.0.7", OLD), children=[setup(), flash(OLD)],
                 trace=trace("2.1.0", "2.0.7", "2.0.7"))
UNREGISTERED = dict(children=[setup(), flash(DEFAULT)])

ROWS = [
    row("typical: older suite, installer registers the new one", **UPDATED),
    row("same version: no setup", **SAME),
    row("newer installed, 10.0.0 over 2.1.0: no setup",
        registered=("10.0.0", OLD), children=[flash(OLD)],
        trace=trace("2.1.0", "10.0.0")),
    row("no suite, installer registers nothing: default folder",
        **UNREGISTERED),
    row("record in the 64-bit view only: not seen", only="wine",
        reg64=("2.1.0", OLD), **UNREGISTERED),
    row("32-bit view seen, 64-bit view ignored", only="wine",
        reg64=("1.0.0", NEW), **SAME),
    row("guard: VORN Update", windows=["VORN Update"], box=TOOL),
    row("guard: VORN GloRim, title in other case", windows=["vorn glorim"],
        box=GLORIM),
    row("guard: both open", windows=["VORN GloRim", "VORN Update"], box=TOOL),
    row("manifest missing", manifest=None, box=NO_MANIFEST),
    row("manifest with empty Version", manifest="[VORNUpdate]\nVersion=\n",
        box=NO_MANIFEST),
    row(r"suite in Program Files, planted C:\Program.exe never runs",
        registered=("2.1.0", DEFAULT), children=[flash(DEFAULT)],
        trace=trace("2.1.0", "2.1.0")),
    row(r"package folder with a space, planted C:\t\Pkg.exe never runs",
        pkg=r"C:\t\Pkg Dir", children=[setup(r"C:\t\Pkg Dir"),
                                       flash(DEFAULT, r"C:\t\Pkg Dir")]),
    row("code page 950: \u529f.exe in folder \u529f", only="wine", **dict(
        UPDATED, pkg=GONG, exe="\u529f.exe", cp950=True,
        children=[setup(GONG), flash(NEW, GONG)])),
    row("Setup.exe missing: flash still runs",
        **dict(OLD_STAYS, setup=False, children=[flash(OLD)])),
    row("installer fails: second check and flash still run",
        **dict(UPDATED, setup_does="3 0 2.1.0 " + NEW)),
    row("installer leaves a grandchild: not waited for", setup_does="0 8",
        grandchild=True, **OLD_STAYS),
    row("arguments are ignored", args=["/s", "VORN Update", r"C:\t\o.rom"],
        **SAME),
    row("empty Location: flash from the current directory's drive",
        registered=("2.1.0", ""), cwd_on_c=True,
        children=[(r"\Chipburn.exe C:\t\Pkg\BIOS.rom", r"C:\Chipburn.exe")],
        trace=trace("2.1.0", "2.1.0")),
    row("manifest path of 255 characters", pkg=folder_of_length(240), **dict(
        SAME, children=[flash(OLD, folder_of_length(240))])),
    row("manifest path of 256 characters: out of reach",
        pkg=folder_of_length(241), box=NO_MANIFEST),
    row("own path of 259 characters: fits MAX_PATH, runs", only="wine",
        pkg=folder_of_length(240), exe="R" * 14 + ".exe", **dict(
            SAME, children=[flash(OLD, folder_of_length(240))])),
    row("Location of type REG_DWORD: its bytes up to a zero, C:", only="wine",
        registered=("2.1.0", "0x3a43"), location_type="REG_DWORD",
        children=[flash("C:")], trace=trace("2.1.0", "2.1.0")),
    row("REG_EXPAND_SZ Location: %SystemDrive% kept as written", only="wine",
        registered=("2.1.0", "%SystemDrive%"), location_type="REG_EXPAND_SZ",
        cwd_on_c=True, children=[(flash("%SystemDrive%"), SUITES[-1] + r"\Chipburn.exe")],
        trace=trace("2.1.0", "2.1.0")),
    row("Location of 300 bytes: does not fit, default folder", only="wine",
        registered=("2.1.0", "C:\\" + "x" * 296), children=[flash(DEFAULT)],
        trace=trace("2.1.0", "2.1.0")),
    row("version subkey of 255 characters: read whole", only="wine",
        registered=("2.1." + "0" * 251, OLD), children=[flash(OLD)],
        trace=trace("2.1.0", "2.1." + "0" * 251)[:-1] + ["Installed Version = 2.1.0"]),
]


def files(r, launcher):
    """The files of the row's world as (Windows path, content); a content
    of "launcher" or "recorder" is the driver's program of that role."""
    pkg = r["pkg"] + "\\"
    yield pkg + (r["exe"] or launcher), "launcher"
    yield pkg + "BIOS.rom", b"\xff" * 64
    if r["manifest"] is not None:  # and where a path cut one short leads
        yield pkg + "VORNUpdate.ini", r["manifest"].encode()
        yield pkg + "VORNUpdate.in", r["manifest"].encode()
    for path in [pkg + "Setup.exe"] * r["setup"] + PLANTED + [
            suite + "\\Chipburn.exe" for suite in SUITES]:
        yield path, "recorder"


class Deadline(Exception):
    """Something the row waits for did not happen in time. Under emulation
    Wine is slow and rarely stalls, so such a row is run once more."""


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            raise Deadline(f"{what} within {seconds} s")
        time.sleep(0.05)


def read(path, codepage="utf-8"):
    """The lines of a file the run wrote, none when it wrote none."""
    with open(path, "rb") if os.path.exists(path) else io.BytesIO() as f:
        return f.read().decode(codepage, "replace").splitlines()


def read_back(r, log, child, codepage="utf-8", **seen):
    """What came of a run: each child the recording children logged, one
    tab-separated line each, as child(fields) gives it, (program, arguments,
    command line or None where the platform shows none); then, when the row
    has one, the installer's grandchild is awaited, which logs once more
    after the launcher has ended. seen: the message boxes, the trace and the
    exit status as the driver read them."""
    lines = read(log, codepage)
    if r["grandchild"]:
        wait_for(lambda: len(read(log)) > len(lines), 60,
                 "the installer's grandchild did not outlive the launcher")
    return dict(children=[child(line.split("\t")) for line in lines], **seen)


def split(command_line):
    """The program and arguments of one of the rows' command lines."""
    return [t.replace('"', "") for t in re.findall(r'(?:"[^"]*"|\S)+',
                                                   command_line)]


def compare(r, got):
    """got: what read_back gives; command_lines says whether the platform
    shows a child its command line. Gives the failures."""
    children = []
    for child in r["children"]:
        line, program = child if isinstance(child, tuple) else (child, None)
        words = split(line)
        children.append((program or words[0], words[1:],
                         line if got["command_lines"] else None))
    checks = [("children", children, got["children"]),
              ("message boxes", [r["box"]] if r["box"] else [], got["boxes"]),
              ("trace", r["trace"], got["trace"]),
              ("exit status", 0, got["status"])]
    return [f"{what}: expected {want!r}, got {seen!r}"
            for what, want, seen in checks if want != seen]


def run_table(platform, run_row, numbers=None):
    """Runs the rows this platform can express (of those numbered, if
    given); run_row(row) gives what came of it. Prints one line per row;
    gives the number failed."""
    failed, retried, started = 0, 0, time.monotonic()
    rows = [(i, r) for i, r in enumerate(ROWS, 1)
            if r["only"] in (None, platform) and i in (numbers or [i])]
    for i, r in rows:
        for attempt in (1, 2):
            try:
                failures = compare(r, run_row(r))
                break
            except Deadline as missed:
                failures = [f"{missed}, twice"]
                retried += attempt == 1
                print(f"     row {i}: {missed}; running it again", flush=True)
        failed += bool(failures)
        print(f"{'FAIL' if failures else 'ok  '} row {i}: {r['name']}")
        for failure in failures:
            print(f"     row {i}: {failure}", flush=True)
    print(f"{platform}: {len(rows) - failed} of {len(rows)} rows passed in "
          f"{time.monotonic() - started:.0f} s, {retried} run again")
    return failed
