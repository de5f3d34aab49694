"""An Xvfb server of the test's own, on a free display number, ended by its
process id: the guard windows and message boxes of the tests live there."""
import os
import subprocess
import time


class XServer:
    def __init__(self):
        for number in range(90, 300):
            if any(os.path.exists(p) for p in (
                    f"/tmp/.X{number}-lock", f"/tmp/.X11-unix/X{number}")):
                continue
            self.process = subprocess.Popen(
                ["Xvfb", f":{number}", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.display = f":{number}"
            # Another server may take the number first; this one then exits.
            while self.process.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                    return
                time.sleep(0.05)
        raise RuntimeError("no free X display for Xvfb")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()
