#!/usr/bin/python3
"""Usage: profile_diff.py CORPUS HOSTED_READER WINDOWS_READER DOC. Reads the
corpus with tests/profile_reader.cpp built over the hosted layer and, in one Wine
process, built for Windows. A file answered differently fails unless DOC
(docs/testing.md) names it among the known differences; one named there and
answered alike fails."""
import os
import re
import subprocess
import sys
import tempfile

corpus, hosted, windows, doc = sys.argv[1:]
names = sorted(n for n in os.listdir(corpus) if n.endswith(".ini"))
folder = "Z:" + os.path.abspath(corpus).replace("/", "\\")
section = open(doc).read().split("## Where the profile reader and Wine differ\n")[1]
known = set(re.findall(r"`([\w.]+\.ini)`", section.split("\n#")[0]))


def answers(argv, env):
    out = subprocess.run(argv, env=env, stdout=subprocess.PIPE, check=True, timeout=300)
    lines = out.stdout.decode("latin-1").splitlines()
    return {n: [line for line in lines if line.split(" ")[0] == n] for n in names}


with tempfile.TemporaryDirectory(prefix="romgate-profile-") as root:
    ours = answers([hosted, folder, *names], dict(os.environ, ROMGATE_PREFIX=root))
    # A fresh prefix and no display; this locale gives ANSI code page 1252.
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    # TMPDIR: Wine's server lock folder goes with the prefix.
    env.update(WINEPREFIX=root + "/wine", TMPDIR=root, WINEDEBUG="-all", LC_ALL="C.UTF-8",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        wine = answers(["wine", windows, folder, *names], env)
    finally:
        subprocess.run(["wineserver", "-k"], env=env)
failed = [n for n in sorted(set(names) | known)
          if (n in names and ours[n] == wine[n]) == (n in known)]
for name in failed:
    print(f"FAIL {name}: {'named' if name in known else 'not named'} among the "
          "known differences of " + doc)
    for side, answer in (("romgate", ours), ("Wine   ", wine)):
        print("".join(f"     {side} {line[:150]}\n" for line in answer.get(name, [])), end="")
print(f"{len(names)} corpus files, {len(known)} known to differ, {len(failed)} not as expected")
sys.exit(1 if failed else 0)
