#!/usr/bin/python3
"""Runs the end-to-end table with Romgate.exe under Wine, in one fresh
prefix, on the X server of xvfb-run. Helper programs stand in for the
children (they log how they were started) and the guarded tools' windows;
Wine's relay trace shows each message box with its arguments."""
import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path
from subprocess import DEVNULL

import Xlib.display
from Xlib import X
from Xlib.error import BadWindow
from Xlib.protocol.event import ClientMessage

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from scenarios import Deadline, files, read, read_back, run_table, wait_for  # noqa: E402

ENV = dict(os.environ, WINEDEBUG="-all", LC_ALL="C.UTF-8",
           WINEDLLOVERRIDES="mscoree,mshtml=")
SUITE_KEY = r"HKLM\Software\Vorn\VornUpdate"


def wine(*argv, wait=True, stderr=DEVNULL, cwd=None, **env):
    """Runs argv in the test prefix; waits for it, or gives the process."""
    process = subprocess.Popen(argv, env=dict(ENV, **env), stdout=DEVNULL,
                               stderr=stderr, cwd=cwd)
    if not wait:
        return process
    try:
        return process.wait(120)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Deadline(f"{' '.join(argv[:3])} did not end within 120 s")


def reg(*argv, view="64"):
    wine("wine", "reg", *argv, "/f", "/reg:" + view)


def boot_prefix():
    """Boots a fresh prefix; without a display it would have no windows."""
    # One persistent server spares every later wine call a fresh start.
    os.makedirs(ENV["WINEPREFIX"])
    wine("wineserver", "-p")
    wine("wineboot", "-i")
    # The message boxes show in the relay trace with their arguments.
    reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d",
        "user32.MessageBoxA")
    # Unmanaged windows close without a 2 s wait; a crash is no dialog.
    reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N")
    reg("add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t",
        "REG_DWORD", "/d", "0")


def lay_out(r):
    """Clears the last row away; lays out this row's package, the suites'
    flashing programs, the planted programs and the registry records."""
    def put(path, data):
        unix = Path(drive_c, *path[3:].split("\\"))
        unix.parent.mkdir(parents=True, exist_ok=True)
        unix.write_bytes(data)
    drive_c = ENV["WINEPREFIX"] + "/drive_c/"
    subprocess.run(["rm", "-rf", drive_c + "t", drive_c + "Program.exe",
                    drive_c + "Chipburn.exe", drive_c + "Program Files/Vorn"])
    for view, record in (("32", r["registered"]), ("64", r["reg64"])):
        reg("delete", r"HKLM\Software\Vorn", view=view)
        if record:
            version, location = record
            reg("add", SUITE_KEY, "/v", "Location", "/t", r["location_type"],
                "/d", location, view=view)
            reg("add", SUITE_KEY + "\\" + version, view=view)
    programs = dict(launcher=Path(ARGS.launcher).read_bytes(),
                    recorder=Path(ARGS.recorder).read_bytes())
    for path, content in files(r, "Romgate.exe"):
        put(path, programs.get(content, content))


def run_row(r):
    """Opens the row's windows, runs the launcher, answers its message boxes
    and reads back what came of it."""
    work = tempfile.mkdtemp(dir=os.path.dirname(ENV["WINEPREFIX"]))
    cwd = ENV["WINEPREFIX"] + "/drive_c" if r["cwd_on_c"] else work
    holders, z = [], "Z:" + work.replace("/", "\\") + "\\"
    codepage = "cp950" if r["cp950"] else "cp1252"
    env = dict(WINEDEBUG="-all,+debugstr,+relay", ROMGATE_TEST_LOG=z + "log",
               ROMGATE_TEST_SETUP=r["setup_does"],
               LC_ALL="zh_TW.UTF-8" if r["cp950"] else ENV["LC_ALL"])
    lay_out(r)
    try:
        for i, title in enumerate(r["windows"]):
            holders.append(wine("wine", ARGS.recorder, "/window", title, f"{z}ready{i}",
                                wait=False))
            wait_for(lambda: os.path.exists(f"{work}/ready{i}"), 60,
                     f"window {title!r} did not open")
        # A file, not a pipe: a grandchild inherits it and holds it open.
        with open(work + "/err", "wb") as err:
            launcher = wine("wine", r["pkg"] + "\\" + (r["exe"] or "Romgate.exe"),
                            *r["args"], wait=False, stderr=err, cwd=cwd, **env)
            holders.append(launcher)
            wait_for(lambda: answer_boxes(r["windows"]) or
                     launcher.poll() is not None, 120,
                     "the launcher did not end (a child still running?)")
    finally:
        for process in holders:
            process.kill()
            process.wait()
    calls = [unescape(line) for line in read(work + "/err", "latin-1")]
    return read_back(
        r, work + "/log", lambda c: (c[0], c[2:], c[1]), codepage,
        command_lines=True, status=launcher.returncode,
        boxes=[box(*m.groups()) for m in (re.search(
            r'Call user32.MessageBoxA\((\w+),\w+ "(.*)",\w+ "(.*)",(\w+)\)',
            line) for line in calls) if m],
        trace=[m.group(1) for m in (re.search(r'OutputDebugStringA "(.*)"$',
                                              line) for line in calls) if m])


def check_shell_start():
    """The launcher's start through the shell, run by a helper: shell32.dll
    from the system directory, the recorder started with the parameters as
    given, and waited for (its line is there when the helper ends). Prints
    one line; gives whether it passed."""
    work = tempfile.mkdtemp(dir=os.path.dirname(ENV["WINEPREFIX"]))
    z = "Z:" + work.replace("/", "\\") + "\\"
    with open(work + "/err", "wb") as err:
        status = wine("wine", ARGS.shell_start, "Z:" + ARGS.recorder.replace("/", "\\"),
                      r'"C:\My Pkg\BIOS.rom" -s', stderr=err, ROMGATE_TEST_LOG=z + "log",
                      WINEDEBUG="-all,+loaddll")
    got = (status, [line.split("\t")[2:] for line in read(work + "/log")],
           [m.group(1) for m in map(re.compile(r'Loaded L"(.*shell32.dll)"').search,
                                    read(work + "/err")) if m])
    want = (0, [[r"C:\My Pkg\BIOS.rom", "-s"]], [r"C:\\windows\\system32\\shell32.dll"])
    print(f"{'ok  ' if got == want else 'FAIL'} the shell's start: {got}")
    return got == want


def unescape(line):
    return line.encode("latin-1").decode("unicode_escape")


def answer_boxes(guard_titles):
    """Closes every window on the display but the guard windows, as a user
    answers a message box; Wine takes the close as OK."""
    for window in DISPLAY.screen().root.query_tree().children:
        try:
            if window.get_attributes().map_state == X.IsViewable and \
                    window.get_wm_name() not in guard_titles:
                window.send_event(ClientMessage(
                    window=window, client_type=DELETE[0],
                    data=(32, [DELETE[1], X.CurrentTime, 0, 0, 0])),
                    event_mask=0, onerror=lambda *error: None)
        except BadWindow:
            pass  # it closed while we looked
    DISPLAY.sync()


def box(owner, text, caption, kind):
    """A box with no owner, of type MB_OK alone, is its caption and text;
    another shows its owner and type too."""
    return (caption, text) if owner == kind == "00000000" else (
        caption, text, "owner " + owner, "type " + kind)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("launcher", "recorder"):
        parser.add_argument("--" + name, required=True, type=os.path.abspath)
    parser.add_argument("--shell-start", type=os.path.abspath,
                        help="the helper that tests the Windows layer's shell start")
    parser.add_argument("--rows", type=int, nargs="+", help="only these")
    ARGS = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="romgate-wine-",
                                     ignore_cleanup_errors=True) as root:
        # Wine keeps its server's lock folder in TMPDIR: here it goes with the prefix.
        ENV.update(WINEPREFIX=root + "/prefix", TMPDIR=root)
        DISPLAY = Xlib.display.Display()
        DELETE = [DISPLAY.intern_atom(a) for a in ("WM_PROTOCOLS",
                                                   "WM_DELETE_WINDOW")]
        try:
            boot_prefix()
            shell_start_ok = not ARGS.shell_start or check_shell_start()
            sys.exit(1 if run_table("wine", run_row, ARGS.rows) or not shell_start_ok else 0)
        except Deadline as missed:
            sys.exit(f"the test prefix did not boot: {missed}")
        finally:
            wine("wineserver", "-k")
