#!/bin/sh
# Static analysis of the product code as each build compiles it: clang-tidy
# (checks in .clang-tidy) and cppcheck, over launcher/, platform/ and pack/
# (romgate-pack) from the
# compile commands of the linux and windows presets, which must be
# configured. Tests and their helpers, and the Wine demo's sample suite
# (examples/win32: a stand-in for the vendor's installer, never in a
# package), are not product code and are left out. Any finding fails.
# Called by ./dev test after the builds; runs two jobs at a time.
set -eu
cd "$(dirname "$0")/.."

export MINGW_TARGET=i686-w64-mingw32
# Every kind of finding but the unused-function and configuration notes;
# the few kinds left out are in the suppressions file, each with its reason.
CPPCHECK_ARGS="--quiet --error-exitcode=1 --template=gcc
--enable=warning,style,performance,portability
--suppressions-list=tools/cppcheck/suppressions.txt"

# Writes build/PRESET/analysis/compile_commands.json for each preset named,
# the preset's commands for product files, and prints "PRESET FILE" for
# each, the largest files first, so that two jobs end close together. Each
# file is taken once: given two commands for one file (strsafe.cpp is also
# built into the unit tests), clang-tidy 14 analyses it twice in one process
# and its va_list check then reports a va_list started with va_start as
# uninitialised. Response files are spelled out, as cppcheck reads none.
product_commands() {
    /usr/bin/python3 - "$@" <<'PY'
import json, os, shlex, sys

jobs = []
for preset in sys.argv[1:]:
    build = os.path.join("build", preset)
    kept = {}
    for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
        name = os.path.relpath(entry["file"])
        if not name.startswith(("launcher/", "platform/", "pack/")) or name in kept:
            continue
        arguments = []
        for argument in shlex.split(entry["command"]):
            if argument.startswith("@"):
                with open(os.path.join(entry["directory"], argument[1:])) as f:
                    arguments += shlex.split(f.read())
            else:
                arguments.append(argument)
        kept[name] = dict(directory=entry["directory"], file=entry["file"],
                          arguments=arguments)
        jobs.append((os.path.getsize(name), preset, name))
    if not kept:
        sys.exit(build + ": no product files among the compile commands")
    os.makedirs(os.path.join(build, "analysis"), exist_ok=True)
    database = os.path.join(build, "analysis", "compile_commands.json")
    with open(database, "w") as f:
        json.dump(list(kept.values()), f, indent=1)
for _, preset, name in sorted(jobs, reverse=True):
    print(preset, name)
PY
}

# clang-tidy on each "PRESET FILE" of $jobs, two at a time; a file's output
# is shown only when it has findings, and whole. The Windows build's files
# are read with mingw-w64's headers and none of the host's, as the cross
# compiler reads them.
tidy() {
    # shellcheck disable=SC2016  # expanded by the shell that xargs starts
    printf '%s\n' "$jobs" | xargs -n 2 -P 2 sh -c '
        preset=$1 file=$2
        set --
        [ "$preset" = windows ] && set -- --extra-arg=--target=$MINGW_TARGET \
            --extra-arg=--sysroot=/usr/$MINGW_TARGET
        output=$(clang-tidy --quiet -p "build/$preset/analysis" "$@" \
            "$file" 2>&1) && exit 0
        printf "%s\n" "$output" | grep -v "warnings\? generated\.$"
        exit 1' tidy
}

# Every part runs, so that one run shows all findings.
started=$(date +%s)
jobs=$(product_commands linux windows)
failed=
tidy || failed="$failed clang-tidy"
# shellcheck disable=SC2086
cppcheck $CPPCHECK_ARGS --project=build/linux/analysis/compile_commands.json \
    --platform=unix64 --library=posix || failed="$failed cppcheck/linux"
# shellcheck disable=SC2086
cppcheck $CPPCHECK_ARGS --project=build/windows/analysis/compile_commands.json \
    --platform=win32A --library=windows --library=tools/cppcheck/windows.cfg \
    -D_WIN32 || failed="$failed cppcheck/windows"
elapsed=$(($(date +%s) - started))
if [ -n "$failed" ]; then
    echo "static analysis: findings from$failed (${elapsed} s)" >&2
    exit 1
fi
echo "static analysis: clang-tidy and cppcheck clean on both builds (${elapsed} s)"
