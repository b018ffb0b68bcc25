#!/usr/bin/env python3
"""Migrates the same archives with the Linux and the Windows build (under Wine) and compares what
they made: the exit codes, the output archives entry by entry (names, directories, bytes) and the
logs line by line, with time stamps and the paths of each run's own folders masked (in .reg files
too, where a flags="2" value rule writes the user's AppData folder).

Usage: scripts/compare-builds.py [--scale S] [--seed N]   (after make build and make windows)
The archives: the example with its rules, and a generated profile (scale S, default 0.05; seed N,
default 1) with the 100 mixed rules of the benchmarks. Prints every difference; exits 1 when there
is one."""

import argparse
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
LINUX_TOOL = ROOT / "build/release/src/OrvexMigrate/OrvexMigrate"
WINDOWS_TOOL = ROOT / "build/windows/src/OrvexMigrate/OrvexMigrate.exe"
WINE_PREFIX = ROOT / "build/windows/wine"
GENERATOR = pathlib.Path("/work/shared/bench/gen_profile.py")


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def run_linux(folder, rules, archive):
    command = [str(LINUX_TOOL), "/XML", str(rules), "/INPUT", str(archive), "/OUTPUT", "out.zip",
               "/LOGFILE", "run.log", "/VERBOSE"]
    env = {"PATH": "/usr/bin:/bin", "HOME": str(folder / "home"), "TMPDIR": str(folder / "tmp")}
    return subprocess.run(command, cwd=folder, env=env, stdout=subprocess.DEVNULL).returncode


def run_windows(folder, rules, archive):
    # A batch file gives the program its temporary folder and keeps its whole exit code.
    temp = windows_path(folder / "tmp")
    (folder / "run.bat").write_text(
        f"@echo off\r\nset TEMP={temp}\r\nset TMP={temp}\r\n"
        f'"{windows_path(WINDOWS_TOOL)}" /XML "{windows_path(rules)}" /INPUT "{windows_path(archive)}"'
        f" /OUTPUT out.zip /LOGFILE run.log /VERBOSE\r\n"
        f'> "{windows_path(folder / "status")}" echo %ERRORLEVEL%\r\nexit /b 0\r\n')
    subprocess.run([str(ROOT / "scripts/wine-run.sh"), str(WINE_PREFIX), "cmd", "/c",
                    windows_path(folder / "run.bat")], cwd=folder, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    return int((folder / "status").read_text())


def log_lines(folder, work, separator):
    """The log without time stamps; the run's working directory, its folder and the folder of the
    inputs masked, and the paths below them written with "/"."""
    text = (folder / "run.log").read_bytes().decode("utf-8")
    spell = (lambda p: str(p) + "/") if separator == "/" else (lambda p: windows_path(p) + "\\")
    lines = []
    for line in text.split("\r\n"):
        line = line[24:].replace(spell(folder / "tmp"), "<WORK>").replace(spell(folder), "<RUN>")
        line = line.replace(spell(work), "<INPUTS>").replace(spell(ROOT), "<REPOSITORY>")
        line = re.sub(r"<(WORK|RUN|INPUTS|REPOSITORY)>[^']*",
                      lambda m: m.group(0).replace("\\", "/"), line)
        lines.append(line)
    return lines


def entries(archive, folder, separator):
    """Name -> (is a directory, bytes); in .reg files the user's AppData folder, which differs by
    system ($HOME/.config of the Linux run, %APPDATA% of the Wine prefix's user), as <APPDATA>."""
    result = {}
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            data = z.read(info)
            if re.fullmatch(r"Registry/[^/]+\.reg", info.filename) and len(data) % 2 == 0:
                text = data.decode("utf-16-le", "surrogatepass")
                if separator == "/":
                    text = text.replace(str(folder / "home" / ".config"), "<APPDATA>")
                else:
                    text = re.sub(r'C:\\\\users\\\\[^\\\\"]+\\\\AppData\\\\Roaming',
                                  "<APPDATA>", text)
                data = text.encode("utf-16-le", "surrogatepass")
            result[info.filename] = (info.is_dir(), data)
    return result


def compare(name, rules, archive, work):
    results = {}
    for build, runner, separator in (("linux", run_linux, "/"), ("windows", run_windows, "\\")):
        folder = work / name / build
        (folder / "tmp").mkdir(parents=True)
        (folder / "home").mkdir()
        start = time.monotonic()
        status = runner(folder, rules, archive)
        results[build] = (status, folder, separator, time.monotonic() - start)
    (ls, lf, lsep, lt), (ws, wf, wsep, wt) = results["linux"], results["windows"]
    print(f"== {name}: exit {ls} / {ws}, {lt:.2f} s on Linux, {wt:.2f} s under Wine")
    differences = 0
    if ls != ws:
        print(f"   exit codes differ: {ls} / {ws}")
        differences += 1
    if (lf / "out.zip").exists() and (wf / "out.zip").exists():
        le, we = entries(lf / "out.zip", lf, lsep), entries(wf / "out.zip", wf, wsep)
        for entry in sorted(set(le) | set(we)):
            if entry not in le or entry not in we:
                print(f"   only {'Linux' if entry in le else 'Windows'} has {entry}")
                differences += 1
            elif le[entry] != we[entry]:
                print(f"   {entry}: content differs")
                differences += 1
        if list(le) != list(we) and set(le) == set(we):
            at = next(i for i, (a, b) in enumerate(zip(le, we)) if a != b)
            print(f"   the entries stand in another order from entry {at + 1}: "
                  f"{list(le)[at]} / {list(we)[at]}")
            differences += 1
    elif (lf / "out.zip").exists() != (wf / "out.zip").exists():
        print("   only one build made an output archive")
        differences += 1
    ll, wl = log_lines(lf, work, lsep), log_lines(wf, work, wsep)
    for number, (a, b) in enumerate(zip(ll, wl), 1):
        if a != b:
            print(f"   log line {number}:\n     Linux:   {a}\n     Windows: {b}")
            differences += 1
    if len(ll) != len(wl):
        print(f"   the logs have {len(ll)} and {len(wl)} lines")
        differences += 1
    return differences


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scale", default="0.05")
    parser.add_argument("--seed", default="1")
    args = parser.parse_args()
    work = pathlib.Path(tempfile.mkdtemp(prefix="orvex-compare-"))
    try:
        example = work / "example.zip"
        subprocess.run([sys.executable, str(ROOT / "examples/make_profile.py"), str(example)],
                       check=True, stdout=subprocess.DEVNULL)
        differences = compare("example", ROOT / "examples/migration.xml", example, work)
        if GENERATOR.exists():
            profile, rules = work / "profile.zip", work / "rules.xml"
            subprocess.run([sys.executable, str(GENERATOR), "-q", "-o", str(profile),
                            "--seed", args.seed, "--scale", args.scale], check=True)
            with open(rules, "w") as out:
                subprocess.run([sys.executable, str(ROOT / "bench/mixed_rules.py"), str(profile)],
                               stdout=out, check=True)
            differences += compare(f"profile-{args.scale}-seed{args.seed}", rules, profile, work)
        print(f"{differences} differences")
        return 1 if differences else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
