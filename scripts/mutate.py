#!/usr/bin/env python3
"""Mutation report: which small faults in the code no test catches.

Makes one small fault at a time in a source file (a comparison or boundary changed, a condition
negated, a `+ 1` dropped, a failure turned into success, a result code swapped, a statement
deleted, a message text changed), rebuilds what depends on it in its own build folder, runs the
tests of the file's folder and the end-to-end tests, and records which tests caught the mutant.

    scripts/mutate.py [--per-file N] [--seed S] [--rerun earlier.json] [--json out.json]
                      [--report out.md] [--work folder] [paths...]
    scripts/mutate.py --merge a.json b.json ... [--json out.json] [--report out.md]

Paths are source files or folders (default: src and engine, without tests); a file with more
candidate mutants than --per-file is sampled. --rerun makes again the mutants of an earlier run
(those in the given paths), so that two reports on different tests compare the same mutants. The
report gives per folder the mutants made, caught, missed and unbuildable, every missed mutant, per
test the mutants only it catches, and the tests each of whose mutants another test catches too.
Two runs over different paths, each with its own --work folder, share the machine's cores; --merge
joins their results into one report without running anything.
"""

import argparse
import collections
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The mutants are made in a copy of the tree (TREE, built in BUILD, both in the --work folder), so
# that a run stopped at any moment leaves the checkout as it was.
TREE = BUILD = None
TEST_TIMEOUT = 150

# (name, pattern, replacement): each match on a line makes one mutant.
OPERATORS = [
    ("equality", re.compile(r" == "), " != "),
    ("equality", re.compile(r" != "), " == "),
    ("boundary", re.compile(r" < "), " <= "),
    ("boundary", re.compile(r" <= "), " < "),
    ("boundary", re.compile(r" > "), " >= "),
    ("boundary", re.compile(r" >= "), " > "),
    ("logic", re.compile(r" && "), " || "),
    ("logic", re.compile(r" \|\| "), " && "),
    ("plus-one", re.compile(r" [+-] 1\b"), ""),
    ("success", re.compile(r"\bRETURN_IF_FAILED\((.*)\);"), r"(void)(\1);"),
    ("success", re.compile(r"\breturn (E_[A-Z_]+|HResultFromWin32\(.*\)|hr);"), "return S_OK;"),
    ("result", re.compile(r"\bS_FALSE\b"), "S_OK"),
    ("result", re.compile(r"\bE_INVALIDARG\b"), "E_FAIL"),
    ("result", re.compile(r"\bERROR_INVALID_DATA\b"), "ERROR_INVALID_PARAMETER"),
    ("result", re.compile(r"\btrue\b"), "false"),
    ("result", re.compile(r"\bfalse\b"), "true"),
    ("message", re.compile(r'\bu"([A-Za-z])'), r'u"#\1'),
]
NEGATE = re.compile(r"\b(if|while) \(")
STATEMENT = re.compile(r"^\s+[A-Za-z_][\w:.\->\[\]]*(\(.*\)|\s*[-+*/|&]?=\s*.*|\+\+|--);\s*$")
SKIP = re.compile(r"^\s*(//|#|static_assert|namespace|using|template)")


def candidates(path):
    """Every (line index, operator, new line) for one file."""
    lines = open(path, encoding="utf-8").read().split("\n")
    found = []
    for i, line in enumerate(lines):
        if SKIP.match(line) or not line.strip():
            continue
        code = line.split("//")[0]
        for name, pattern, replacement in OPERATORS:
            for match in pattern.finditer(code):
                mutated = code[: match.start()] + match.expand(replacement) + code[match.end():]
                found.append((i, name, mutated))
        for match in NEGATE.finditer(code):
            close = Matching(code, match.end() - 1)
            if close is not None:
                inner = code[match.end():close]
                found.append((i, "negate", code[: match.end()] + "!(" + inner + ")" + code[close:]))
        if STATEMENT.match(code) and not code.strip().startswith("return"):
            found.append((i, "delete", ""))
    return lines, found


def Matching(text, open_at):
    depth = 0
    for j in range(open_at, len(text)):
        depth += {"(": 1, ")": -1}.get(text[j], 0)
        if depth == 0:
            return j
    return None


def run(command, timeout=None):
    """The command's result, or None when it ran out of time: then its whole process group is
    killed, so that no tool a test started outlives it."""
    # The tests read the environment CTest gives them.
    env = dict(os.environ, ORVEX_SOURCE_DIR=TREE)
    # Started in the background, this script has SIGINT ignored; the stop-request tests need the
    # tools they start to hear it.
    hear_sigint = lambda: signal.signal(signal.SIGINT, signal.SIG_DFL)  # noqa: E731
    with subprocess.Popen(command, cwd=TREE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, errors="replace", env=env, start_new_session=True,
                          preexec_fn=hear_sigint) as process:
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            return None
    return subprocess.CompletedProcess(command, process.returncode, out, err)


def copy_tree():
    """The checkout's files (as they are, changes included) into TREE; unchanged files keep their
    time stamps, so a second run rebuilds only what changed."""
    names = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True,
                           check=True).stdout.decode().split("\0")
    for name in filter(None, names):
        source, target = os.path.join(ROOT, name), os.path.join(TREE, name)
        if not os.path.isfile(source):
            continue
        data = open(source, "rb").read()
        if os.path.exists(target) and open(target, "rb").read() == data:
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        open(target, "wb").write(data)
        shutil.copymode(source, target)


def test_programs(directory):
    names = sorted(os.listdir(directory)) if os.path.isdir(directory) else []
    return [os.path.join(directory, name) for name in names
            if name.endswith("_test") and os.access(os.path.join(directory, name), os.X_OK)]


def test_binaries(source):
    """The test programs of the file's folder (or of the nearest folder above it that has some:
    the posix services are tested from the platform folder), then the end-to-end tests."""
    folder = os.path.dirname(os.path.relpath(source, TREE))
    while folder and not test_programs(os.path.join(BUILD, folder)):
        folder = os.path.dirname(folder)
    own = test_programs(os.path.join(BUILD, folder)) if folder else []
    return own + test_programs(os.path.join(BUILD, "tests", "e2e"))


def failing_tests(binaries):
    """The tests that fail, or None when a test program never finished."""
    failed = []
    for binary in binaries:
        with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as out:
            report = out.name
        result = run([binary, "--gtest_output=json:" + report, "--gtest_brief=1"],
                     timeout=TEST_TIMEOUT)
        name = os.path.basename(binary)
        try:
            suites = json.load(open(report))["testsuites"]
            for suite in suites:
                for test in suite["testsuite"]:
                    if test.get("failures"):
                        failed.append(f"{name}:{suite['name']}.{test['name']}")
        except (OSError, ValueError, KeyError):
            failed.append(f"{name}:<crashed or hung>" if result is None or result.returncode
                          else f"{name}:<no report>")
        finally:
            if os.path.exists(report):
                os.unlink(report)
    return failed


def sources(paths):
    for path in paths:
        full = os.path.join(TREE, path)
        if os.path.isfile(full):
            yield full
            continue
        for directory, _, names in sorted(os.walk(full)):
            for name in sorted(names):
                if name.endswith(".cc") and not name.endswith("_test.cc") and \
                        "/testing" not in directory and "/win32" not in directory:
                    yield os.path.join(directory, name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("paths", nargs="*", default=["src", "engine"])
    parser.add_argument("--per-file", type=int, default=12)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rerun", help="the mutants.json of an earlier run")
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "mutate"))
    parser.add_argument("--json", help="default: mutants.json in the --work folder")
    parser.add_argument("--report", help="default: report.md in the --work folder")
    parser.add_argument("--merge", nargs="+", metavar="JSON", help="the results of earlier runs")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    args.json = args.json or os.path.join(args.work, "mutants.json")
    args.report = args.report or os.path.join(args.work, "report.md")
    if args.merge:
        results = [r for name in args.merge for r in json.load(open(name))]
        json.dump(results, open(args.json, "w"), indent=1)
        write_report(results, args.report)
        return
    global TREE, BUILD
    TREE, BUILD = os.path.join(args.work, "tree"), os.path.join(args.work, "build")

    copy_tree()
    if run(["cmake", "-S", TREE, "-B", BUILD, "-G", "Ninja",
            "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]).returncode != 0:
        sys.exit("configure failed")
    if run(["ninja", "-C", BUILD]).returncode != 0:
        sys.exit("the unmutated tree does not build")

    rng = random.Random(args.seed)
    earlier = None
    if args.rerun:
        earlier = {(r["file"], r["line"], r["operator"], r["after"])
                   for r in json.load(open(args.rerun))}
    results = []
    for source in sources(args.paths):
        lines, found = candidates(source)
        relative = os.path.relpath(source, TREE)
        if earlier is not None:
            found = [m for m in found if (relative, m[0] + 1, m[1], m[2].strip()) in earlier]
        elif len(found) > args.per_file:
            found = sorted(rng.sample(found, args.per_file))
        binaries = test_binaries(source)
        original = "\n".join(lines)
        for index, operator, mutated in found:
            changed = lines[:index] + [mutated] + lines[index + 1:]
            started = time.time()
            try:
                open(source, "w", encoding="utf-8").write("\n".join(changed))
                built = run(["ninja", "-C", BUILD], timeout=900)
                if built is None or built.returncode != 0:
                    caught_by = None
                else:
                    caught_by = failing_tests(binaries)
            finally:
                open(source, "w", encoding="utf-8").write(original)
            results.append({"file": relative, "line": index + 1, "operator": operator,
                            "before": lines[index].strip(), "after": mutated.strip(),
                            "caught_by": caught_by, "seconds": round(time.time() - started, 1)})
            state = "unbuildable" if caught_by is None else \
                ("caught" if caught_by else "MISSED")
            print(f"{relative}:{index + 1} {operator} {state}", flush=True)
            json.dump(results, open(args.json, "w"), indent=1)
    run(["ninja", "-C", BUILD])  # back to the unmutated tree
    write_report(results, args.report)
    print("report:", args.report)


def write_report(results, path):
    folders = collections.defaultdict(collections.Counter)
    operators = collections.defaultdict(collections.Counter)
    only = collections.defaultdict(list)
    catching = set()
    for r in results:
        for counts in folders[os.path.dirname(r["file"])], operators[r["operator"]]:
            if r["caught_by"] is None:
                counts["unbuildable"] += 1
            else:
                counts["made"] += 1
                counts["caught" if r["caught_by"] else "missed"] += 1
        if r["caught_by"] is None:
            continue
        catching.update(r["caught_by"])
        if len(r["caught_by"]) == 1:
            only[r["caught_by"][0]].append(f"{r['file']}:{r['line']} {r['operator']}")
    total = sum(folders.values(), collections.Counter())
    out = ["# Mutation report", "",
           f"{total['made']} mutants, {total['caught']} caught, {total['missed']} missed, "
           f"{total['unbuildable']} unbuildable"]
    for heading, table in ("folder", folders), ("operator", operators):
        out += ["", f"| {heading} | made | caught | missed | unbuildable |", "|---|---|---|---|---|"]
        out += [f"| {name} | {c['made']} | {c['caught']} | {c['missed']} | {c['unbuildable']} |"
                for name, c in sorted(table.items())]
    out += ["", "## Missed", ""]
    out += [f"- {r['file']}:{r['line']} {r['operator']}: `{r['before']}` -> `{r['after']}`"
            for r in results if r["caught_by"] == []]
    out += ["", "## Mutants only one test catches", ""]
    for test, mutants in sorted(only.items()):
        out.append(f"- {test}: {', '.join(mutants)}")
    out += ["", "## Tests each of whose mutants another test catches too", ""]
    out += [f"- {test}" for test in sorted(catching - set(only))]
    open(path, "w", encoding="utf-8").write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
