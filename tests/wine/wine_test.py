#!/usr/bin/python3
"""Romgate.exe end to end under Wine: the real registry, INI reader, windows,
message boxes and processes, in a fresh prefix on a private X server.

Each row of ROWS is one scenario: a package folder, the suite's registry
record, windows held open, what the stand-in installer does, and what must
come of it: the children started (in order, with their exact command lines),
the message boxes shown and the launcher's debugger trace.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

PKG = r"C:\t\Pkg"
OLD = r"C:\t\Suite207"
NEW = r"C:\t\Suite210"
DEFAULT = r"C:\Program Files\Vorn\VornUpdate"
GONG = "C:\\t\\\u529f"  # 功 is A5 5C in code page 950: a 0x5C trail byte
MANIFEST = "[VORNUpdate]\r\nVersion=2.1.0\r\n"
SUITE_KEY = r"HKLM\Software\Vorn\VornUpdate"
INSTALL_NEW = rf"register=2.1.0@{NEW};install={NEW}"
GRANDCHILD_SLEEP = 15
WARN = "Warming"
TOOL = "Please terminate the VORNUpdate tool and try again."
GLORIM = "Please terminate the Glorim tool and try again."
NO_MANIFEST = ("Error Message", "Can't find VORNUpdate.ini file")


def trace(packaged, installed=None):
    """One check's trace: the packaged version, then the subkey as read, its
    three components and the installed version."""
    lines = ["Current Version = " + packaged]
    if installed is not None:
        lines += [installed, *installed.split("."),
                  "Installed Version = " + installed]
    return lines


def setup(pkg=PKG):
    return ("Setup.exe", pkg + r"\Setup.exe -s")


def flash(location, pkg=PKG):
    return ("Chipburn.exe", rf"{location}\Chipburn.exe {pkg}\BIOS.rom")


FLASH_DEFAULT = ("Chipburn.exe", rf'"{DEFAULT}\Chipburn.exe" {PKG}\BIOS.rom')
UPDATED = dict(reg32=("2.0.7", OLD), children=[setup(), flash(NEW)],
               trace=trace("2.1.0", "2.0.7") + trace("2.1.0", "2.1.0"))
SAME = dict(reg32=("2.1.0", OLD), children=[flash(OLD)],
            trace=trace("2.1.0", "2.1.0"))


def row(name, **kw):
    r = dict(name=name, pkg=PKG, exe="Romgate.exe", manifest=MANIFEST,
             setup=True, reg32=None, reg64=None, plant=[], windows=[],
             opts={}, args=[], locale=None, children=[], box=None, trace=[],
             grandchild=False)
    r.update(kw)
    return r


ROWS = [
    row("typical: older suite, installer moves it",
        opts={"SETUP": INSTALL_NEW}, **UPDATED),
    row("same version: no setup", **SAME),
    row("arguments are ignored", args=["/s", "-x", r"C:\t\other.rom"], **SAME),
    row("newer patch installed: no setup", reg32=("2.1.1", OLD),
        children=[flash(OLD)], trace=trace("2.1.0", "2.1.1")),
    row("newer major installed: no setup", reg32=("10.0.0", OLD),
        children=[flash(OLD)], trace=trace("2.1.0", "10.0.0")),
    row("1.2.10 over 1.2.9, installer registers nothing",
        manifest="[VORNUpdate]\r\nVersion=1.2.10\r\n", reg32=("1.2.9", OLD),
        children=[setup(), flash(OLD)], trace=trace("1.2.10", "1.2.9") * 2),
    row("no suite, installer registers nothing: default folder",
        plant=[r"C:\Program.exe"], children=[setup(), FLASH_DEFAULT]),
    row("record in the 64-bit view only: not seen", reg64=("2.1.0", OLD),
        children=[setup(), FLASH_DEFAULT]),
    row("32-bit view seen, 64-bit view ignored", reg64=("1.0.0", NEW), **SAME),
    row("guard: VORN Update", windows=["VORN Update"], box=(WARN, TOOL)),
    row("guard: VORN GloRim", windows=["VORN GloRim"], box=(WARN, GLORIM)),
    row("guard: both open, first only", windows=["VORN GloRim", "VORN Update"],
        box=(WARN, TOOL)),
    row("guard: title in other case", windows=["vorn glorim"],
        box=(WARN, GLORIM)),
    row("guard: a longer title is no guard", windows=["VORN Updater"], **SAME),
    row("manifest missing", manifest=None, box=NO_MANIFEST),
    row("manifest with empty Version", manifest="[VORNUpdate]\r\nVersion=\r\n",
        box=NO_MANIFEST),
    row(r"suite in Program Files, planted C:\Program.exe never runs",
        reg32=("2.1.0", DEFAULT), plant=[r"C:\Program.exe"],
        children=[FLASH_DEFAULT], trace=trace("2.1.0", "2.1.0")),
    row(r"package folder with a space, planted C:\t\Pkg.exe never runs",
        pkg=r"C:\t\Pkg Dir", plant=[r"C:\t\Pkg.exe", r"C:\Program.exe"],
        children=[("Setup.exe", r'"C:\t\Pkg Dir\Setup.exe" -s'),
                  ("Chipburn.exe", rf'"{DEFAULT}\Chipburn.exe" '
                                   r'"C:\t\Pkg Dir\BIOS.rom"')]),
    row("code page 950: launcher named \u529f.exe", exe="\u529f.exe",
        locale="zh_TW.UTF-8", children=[setup(), FLASH_DEFAULT]),
    row("code page 950: \u529f.exe in folder \u529f", pkg=GONG,
        exe="\u529f.exe", locale="zh_TW.UTF-8", opts={"SETUP": INSTALL_NEW},
        **dict(UPDATED, children=[setup(GONG), flash(NEW, GONG)])),
    row("Setup.exe missing: flash still runs", setup=False,
        reg32=("2.0.7", OLD), children=[flash(OLD)],
        trace=trace("2.1.0", "2.0.7") * 2),
    row("installer fails: second check and flash still run",
        opts={"SETUP": INSTALL_NEW + ";exit=3"}, **UPDATED),
    row("installer leaves a grandchild: not waited for",
        reg32=("2.0.7", OLD), opts={"SETUP": f"spawn={GRANDCHILD_SLEEP}"},
        children=[setup(), flash(OLD)], grandchild=True,
        trace=trace("2.1.0", "2.0.7") * 2),
]


class Wine:
    """A private X server and Wine prefix, and the scenario files in it."""

    def __init__(self, root, programs):
        self.programs, self.xvfb = programs, None
        self.prefix = os.path.join(root, "prefix")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("ROMGATE_TEST_")}
        self.env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        LC_ALL="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=")

    def start(self):
        for n in range(90, 200):
            socket = f"/tmp/.X11-unix/X{n}"
            if os.path.exists(socket) or os.path.exists(f"/tmp/.X{n}-lock"):
                continue
            xvfb = subprocess.Popen(["Xvfb", f":{n}", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            wait_for(lambda: os.path.exists(socket) or xvfb.poll() is not None,
                     10)
            if xvfb.poll() is None and os.path.exists(socket):
                self.xvfb, self.env["DISPLAY"] = xvfb, f":{n}"
                break
            xvfb.kill()  # lost a race for this display, or never came up
            xvfb.wait()
        else:
            raise RuntimeError("no free X display for Xvfb")
        # A persistent server spares every later wine call a fresh start.
        os.makedirs(self.prefix)
        self.run(["wineserver", "-p"])
        self.run(["wineboot", "-i"], timeout=180)
        # No window manager: unmanaged windows close without a 2 s wait.
        self.reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                 "/d", "N")
        self.reg("add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                 "/t", "REG_DWORD", "/d", "0")

    def stop(self):
        if "DISPLAY" in self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=10)

    def run(self, argv, timeout=60):
        return subprocess.run(argv, env=self.env, timeout=timeout,
                              stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode

    def reg(self, *argv, view="64"):
        return self.run(["wine", "reg", *argv, "/f", "/reg:" + view])

    def spawn(self, program, *argv, stderr=subprocess.DEVNULL, **env):
        return subprocess.Popen(["wine", program, *argv],
                                env=dict(self.env, **env),
                                stdout=subprocess.DEVNULL, stderr=stderr)

    def unix(self, path):
        """The prefix file behind a C: path."""
        return os.path.join(self.prefix, "drive_c", *path[3:].split("\\"))

    def copy(self, program, path):
        os.makedirs(os.path.dirname(self.unix(path)), exist_ok=True)
        shutil.copyfile(self.programs[program], self.unix(path))

    def write(self, path, data):
        with open(self.unix(path), "wb") as f:
            f.write(data)

    def lay_out(self, r):
        """Clears the previous row away, then lays out this row's package,
        installed suites and registry record."""
        for path in (r"C:\t", r"C:\Program Files\Vorn", r"C:\Program.exe"):
            if os.path.isdir(self.unix(path)):
                shutil.rmtree(self.unix(path))
            elif os.path.exists(self.unix(path)):
                os.remove(self.unix(path))
        for view in ("32", "64"):
            self.reg("delete", r"HKLM\Software\Vorn", view=view)
        pkg = r["pkg"]
        self.copy("launcher", pkg + "\\" + r["exe"])
        self.write(pkg + r"\BIOS.rom", b"\xff" * 64)
        if r["manifest"] is not None:
            self.write(pkg + r"\VORNUpdate.ini", r["manifest"].encode())
        if r["setup"]:
            self.copy("recorder", pkg + r"\Setup.exe")
        for folder in (OLD, DEFAULT):
            self.copy("recorder", folder + r"\Chipburn.exe")
        for path in r["plant"]:
            self.copy("recorder", path)
        for view in ("32", "64"):
            if r["reg" + view]:
                version, location = r["reg" + view]
                self.reg("add", SUITE_KEY, "/v", "Location", "/d", location,
                         view=view)
                self.reg("add", SUITE_KEY + "\\" + version, view=view)


def dos(path):
    return "Z:" + path.replace("/", "\\")


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def read_lines(path, codepage="cp1252"):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return f.read().decode(codepage, errors="replace").splitlines()


def debug_trace(stderr_path):
    """The OutputDebugStringA texts in Wine's +debugstr output, unescaped."""
    texts = []
    for line in read_lines(stderr_path, "latin-1"):
        m = re.search(r'OutputDebugStringA "(.*)"$', line)
        if m:
            texts.append(m.group(1).encode("latin-1").decode("unicode_escape"))
    return texts


def run_launcher(wine, r, work):
    """Opens the row's windows, runs the launcher with a box closer beside
    it; gives the launcher's run time, or a failure text."""
    helpers = []
    try:
        for i, title in enumerate(r["windows"]):
            ready = os.path.join(work, f"ready{i}")
            helpers.append(wine.spawn(wine.programs["holder"], title,
                                      ROMGATE_TEST_READY=dos(ready)))
            if not wait_for(lambda: os.path.exists(ready), 30):
                return f"window {title!r} did not open"
        helpers.append(wine.spawn(wine.programs["closer"],
                                  dos(os.path.join(work, "boxes")), "120"))
        env = {"ROMGATE_TEST_" + k: v for k, v in r["opts"].items()}
        env.update(WINEDEBUG="-all,+debugstr",
                   ROMGATE_TEST_LOG=dos(os.path.join(work, "children")))
        if r["locale"]:
            env["LC_ALL"] = r["locale"]
        started = time.monotonic()
        # A file, not a pipe: the installer's grandchild inherits it and
        # would hold a pipe open long after the launcher has ended.
        with open(os.path.join(work, "stderr"), "wb") as err:
            launcher = wine.spawn(r["pkg"] + "\\" + r["exe"], *r["args"],
                                  stderr=err, **env)
            helpers.append(launcher)
            launcher.wait(timeout=90)
        return time.monotonic() - started
    except subprocess.TimeoutExpired:
        return "launcher did not end within 90 s"
    finally:
        for process in helpers:
            process.kill()
            process.wait()


def run_row(wine, r, work):
    """Runs one scenario; gives its list of failures."""
    wine.lay_out(r)
    elapsed = run_launcher(wine, r, work)
    if isinstance(elapsed, str):
        return [elapsed]
    failures = []
    runs = [line.split("\t") for line in read_lines(
        os.path.join(work, "children"), "cp950" if r["locale"] else "cp1252")]
    got = [tuple(fields[:2]) for fields in runs if len(fields) > 1]
    if got != r["children"]:
        failures.append(f"children: expected {r['children']}, got {got}")
    # Each child's arguments as its C runtime splits them: the image path
    # must stay one argument whatever folder it is in.
    want_args = {"Setup.exe": ["-s"], "Chipburn.exe": [r["pkg"] + r"\BIOS.rom"]}
    for fields in runs:
        want = want_args.get(fields[0])
        if want is not None and fields[2:] != want:
            failures.append(f"{fields[0]} argv: expected {want}, "
                            f"got {fields[2:]}")
    want_boxes = [] if r["box"] is None else \
        [f"{r['exe']}\t{r['box'][0]}\t{r['box'][1]}\t1:OK\t0"]
    got_boxes = read_lines(os.path.join(work, "boxes"))
    if got_boxes != want_boxes:
        failures.append(f"message boxes (program, caption, text, buttons, "
                        f"icon): expected {want_boxes}, got {got_boxes}")
    got_trace = debug_trace(os.path.join(work, "stderr"))
    if got_trace != r["trace"]:
        failures.append(f"trace: expected {r['trace']}, got {got_trace}")
    if r["grandchild"]:
        failures += check_grandchild(os.path.join(work, "children"), elapsed)
    return failures


def check_grandchild(log, elapsed):
    """The launcher must have ended while the installer's grandchild still
    slept, and the grandchild must really have run."""
    failures = []
    if elapsed > GRANDCHILD_SLEEP - 5:
        failures.append(f"launcher took {elapsed:.1f} s; the grandchild "
                        f"sleeps {GRANDCHILD_SLEEP} s")
    if "Setup.exe slept" in read_lines(log):
        failures.append("launcher ended after the grandchild")
    elif not wait_for(lambda: "Setup.exe slept" in read_lines(log),
                      GRANDCHILD_SLEEP + 10):
        failures.append("the installer's grandchild never ran")
    return failures


def ensure_locale(name):
    """Code page 950 needs the zh_TW locale; generates it once if missing.
    Gives a failure text, or None."""
    have = subprocess.run(["locale", "-a"], capture_output=True, text=True)
    if "zh_TW.utf8" in have.stdout.split():
        return None
    if os.geteuid() != 0:
        return f"locale {name} missing: localedef -i zh_TW -f UTF-8 {name}"
    made = subprocess.run(["localedef", "-i", "zh_TW", "-f", "UTF-8", name])
    return None if made.returncode == 0 else f"localedef {name} failed"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("launcher", "recorder", "holder", "closer"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--row", type=int, action="append",
                        help="run only this row (1-based); may be repeated")
    args = parser.parse_args()
    programs = {k: os.path.abspath(getattr(args, k)) for k in
                ("launcher", "recorder", "holder", "closer")}
    chosen = [(i, r) for i, r in enumerate(ROWS, 1)
              if not args.row or i in args.row]

    root = tempfile.mkdtemp(prefix="romgate-wine-")
    wine = Wine(root, programs)
    failed, started = 0, time.monotonic()
    try:
        wine.start()
        for i, r in chosen:
            work = os.path.join(root, f"row{i}")
            os.makedirs(work)
            problem = r["locale"] and ensure_locale(r["locale"])
            failures = [problem] if problem else run_row(wine, r, work)
            failed += bool(failures)
            print(f"{'FAIL' if failures else 'ok  '} row {i}: {r['name']}")
            for failure in failures:
                print(f"     row {i}: {failure}")
            sys.stdout.flush()
    finally:
        wine.stop()
        shutil.rmtree(root, ignore_errors=True)
    print(f"{len(chosen) - failed} of {len(chosen)} rows passed in "
          f"{time.monotonic() - started:.0f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
