#!/usr/bin/python3
"""Runs the end-to-end table with romgate: each row on a fresh prefix, its
guard windows held by this driver on the X server of xvfb-run.
Stand-in children are shell scripts that log how they were started."""
import argparse
import os
import subprocess
import sys
import tempfile

import Xlib.display

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from scenarios import Deadline, files, read_back, run_table  # noqa: E402

# Logs "<program>\t<argument>..."; as Setup.exe, then does what
# ROMGATE_TEST_SETUP says: "<exit code> <seconds> [<version> <folder>]".
RECORDER = r"""#!/bin/sh
{ printf %s "$0"; printf '\t%s' "$@"; echo; } >> "$ROMGATE_TEST_LOG"
[ "${0##*/}" = Setup.exe ] || exit 0
read -r code seconds version folder <<EOF
$ROMGATE_TEST_SETUP
EOF
[ -z "$version" ] || printf '%s\n' REGEDIT4 \
    '[HKEY_LOCAL_MACHINE\Software\Vorn\VornUpdate]' \
    "\"Location\"=\"$(printf %s "$folder" | sed 's/\\/\\\\/g')\"" \
    "[HKEY_LOCAL_MACHINE\\Software\\Vorn\\VornUpdate\\$version]" \
    > "$ROMGATE_PREFIX/registry.reg"
if [ "${seconds:-0}" -gt 0 ]; then
    (sleep "$seconds"; echo grandchild >> "$ROMGATE_TEST_LOG") \
        </dev/null >/dev/null 2>&1 &
fi
exit "${code:-0}"
"""


def host(drive_c, path):
    return os.path.join(drive_c, *path[3:].split("\\"))


def lay_out(r, work):
    """The row's package and prefix; gives drive C and the package folder."""
    drive_c = os.path.join(work, "prefix", "drive_c")
    os.makedirs(os.path.join(drive_c, "windows"))
    programs = dict(launcher=open(ARGS.romgate, "rb").read(),
                    recorder=RECORDER.encode())
    for path, content in files(r, "romgate"):
        os.makedirs(os.path.dirname(host(drive_c, path)), exist_ok=True)
        with open(host(drive_c, path), "wb") as file:
            file.write(programs.get(content, content))
        os.chmod(host(drive_c, path), 0o755)
    if r["registered"]:
        version, location = r["registered"]
        registry = os.path.join(work, "prefix", "registry.reg")
        with open(registry, "w") as reg:
            reg.write("Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\Vorn\\VornUpdate]\n"
                      f'"Location"="{location.replace(chr(92), 2 * chr(92))}"'
                      f"\n\n[HKEY_LOCAL_MACHINE\\Software\\Vorn\\VornUpdate"
                      f"\\{version}]\n")
    return drive_c, host(drive_c, r["pkg"])


def open_windows(titles):
    """Top-level windows with these titles, as the guarded tools have."""
    screen = DISPLAY.screen()
    windows = [screen.root.create_window(0, 0, 200, 100, 0, screen.root_depth)
               for _ in titles]
    for window, title in zip(windows, titles):
        window.set_wm_name(title)
        window.map()
    DISPLAY.sync()
    return windows


def run_row(r):
    with tempfile.TemporaryDirectory() as work:
        drive_c, package = lay_out(r, work)
        log = os.path.join(work, "log")
        env = dict(os.environ, ROMGATE_PREFIX=os.path.join(work, "prefix"),
                   ROMGATE_DEBUG="1", ROMGATE_TEST_LOG=log,
                   ROMGATE_TEST_SETUP=r["setup_does"])
        windows = open_windows(r["windows"])
        try:
            result = subprocess.run(
                [os.path.join(package, "romgate")] + r["args"], env=env,
                cwd=drive_c if r["cwd_on_c"] else work, capture_output=True,
                text=True, timeout=30)
        except subprocess.TimeoutExpired:
            raise Deadline("romgate did not end")
        finally:
            for window in windows:
                window.destroy()
            DISPLAY.sync()
        errors = result.stderr.splitlines()
        return read_back(
            r, log, lambda c: ("C:" + c[0][len(drive_c):].replace("/", "\\"), c[1:], None),
            command_lines=False, status=result.returncode,
            boxes=[tuple(e.split(": ", 1)) for e in errors
                   if not e.startswith("debug: ")],
            trace=[e[7:] for e in errors if e.startswith("debug: ")])


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--romgate", required=True)
    ARGS = parser.parse_args()
    DISPLAY = Xlib.display.Display()
    sys.exit(1 if run_table("linux", run_row) else 0)
