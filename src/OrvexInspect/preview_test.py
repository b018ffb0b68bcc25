#!/usr/bin/env python3
"""preview against the migration itself: over generated profiles, the counts per rule that
`OrvexInspect preview --json` gives equal those that OrvexMigrate's /VERBOSE logs show, the output
validates against docs/json-preview.schema.json, and rules with a letter-case slip or a misspelt
key come with their near misses. A delete or a conversion of a file or folder that the profile
lacks logs success or a failure, but found nothing, and preview says so.

preview_test.py INSPECT MIGRATE SOURCE_DIR [PROFILES]   (PROFILES default 4; 40 by hand)
"""

import json
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import jsonschema

inspect, migrate, source = sys.argv[1], sys.argv[2], Path(sys.argv[3])
count = int(sys.argv[4]) if len(sys.argv) > 4 else 4

# The one line that ends each rule's work in a verbose log, and what it says the rule did.
ACTED = re.compile(
    r"ProcessRegistryKey: (Created key|Deleted tree|Renamed tree|Moved value) "
    r"|ProcessRegistryValue: (Added|Modified|Converted|Deleted|Renamed) value "
    r"|ProcessDirectory: (Copied|Created|Deleted|Moved) directory "
    r"|ProcessFile: (Copied|Created|Created empty|Deleted|Moved|Converted) file ")
NOTHING = re.compile(r"\((key|value|tree) does not exist\)$|\(key already exists\)$"
                     r"|Failed to (copy|move) (directory|file) .*\(Error [23]\)$")


def path(text):
    """A path as the archive and the rules name it, compared ignoring case."""
    return text.replace("\\", "/").lower()


def ancestors(name):
    return {name[:i] for i, c in enumerate(name) if c == "/"}


def logged_effects(log, kinds):
    """Per rule index: [acted, found nothing, failed] .reg files (or 1 for a file pass rule)."""
    registry = [i for i, k in enumerate(kinds) if k in ("key", "value")]
    files = [i for i, k in enumerate(kinds) if k in ("directory", "file")]
    effects = {}
    order, step = None, 0
    for line in log.read_text(encoding="utf-8-sig").splitlines():
        if "Parsed .REG file" in line:
            order, step = registry, 0
        elif "Looking for files and directories" in line:
            order, step = files, 0
        elif "Transformed .REG file" in line or "Finished migrating files" in line:
            order = None
        elif order is not None and "] Process" in line:
            message = line.split("] ", 1)[1]
            if ACTED.match(message):
                outcome = 0
            elif "[ERROR]" in line:
                outcome = 1 if NOTHING.search(message) else 2
            else:
                continue  # "Copying ...", or the key a value rule creates before its value
            effects.setdefault(order[step], [0, 0, 0])[outcome] += 1
            step += 1
    return effects


def main():
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        profiles = work / "profiles"
        profiles.mkdir()
        for seed in range(1, count + 1):
            subprocess.run([sys.executable, source / "bench/gen_profile.py", "-q", "-o",
                            profiles / f"p{seed:02}.zip", "--seed", str(seed), "--scale", "0.02"],
                           check=True)
        rules = work / "rules.xml"
        rules.write_text(subprocess.run(
            [sys.executable, source / "bench/mixed_rules.py", profiles / "p01.zip"],
            check=True, capture_output=True, text=True).stdout)
        kinds = re.findall(r"^  <(key|value|directory|file) ", rules.read_text(), re.M)
        # (kind, action, source) of each rule, for those that find nothing where their source is
        # missing: a delete or conversion of what the profile lacks, or what an earlier rule took.
        parsed = [(kind, action, path(source), path(destination))
                  for kind, action, source, destination in re.findall(
                      r'^  <(\w+) action="(\w+)" (?:key="[^"]*" )?source=["\']([^"\']*)["\']'
                      r'(?: destination="([^"]*)")?', rules.read_text(), re.M)]

        def missing_sources(held):
            held, missing = set(held), set()
            for i, (kind, action, source, destination) in enumerate(parsed):
                if kind not in ("directory", "file"):
                    continue
                if source not in held and (action == "delete" or action == "convert"):
                    missing.add(i)
                inside = {p for p in held if p == source or p.startswith(source + "/")}
                if (kind, action) == ("directory", "move") and destination in held:
                    continue  # a folder does not move onto another
                if action in ("delete", "move"):
                    held -= inside
                if action == "create":
                    held |= {source} | ancestors(source)
                elif action in ("copy", "move") and source in inside:
                    held |= {destination + p[len(source):] for p in inside} | ancestors(destination)
            return missing

        expected = {}  # rule -> outcome -> [profiles, .reg files]
        for archive in sorted(profiles.iterdir()):
            log = work / (archive.stem + ".log")
            subprocess.run([migrate, "/INPUT", archive, "/OUTPUT", work / "out.zip", "/XML", rules,
                            "/LOGFILE", log, "/VERBOSE", "/OVERWRITE"], check=True,
                           stdout=subprocess.DEVNULL)
            with zipfile.ZipFile(archive) as packed:
                held = {path(name.rstrip("/")) for name in packed.namelist()}
            held |= {parent for name in held for parent in ancestors(name)}
            missing = missing_sources(held)
            for rule, files in logged_effects(log, kinds).items():
                outcome = 2 if files[2] else 0 if files[0] else 1
                if rule in missing:
                    outcome, files = 1, [0, 1, 0]
                tally = expected.setdefault(rule, {}).setdefault(outcome, [0, 0])
                tally[0] += 1
                tally[1] += files[outcome]

        run = subprocess.run([inspect, "preview", "--json", "-j", "2", rules, profiles],
                             capture_output=True, text=True)
        assert run.returncode in (0, 1) and run.stderr == "", run.stderr
        report = json.loads(run.stdout)
        schema = json.loads((source / "docs/json-preview.schema.json").read_text())
        jsonschema.validate(report, schema)
        assert report["summary"]["profiles"] == count and report["summary"]["fail"] == 0
        for index, rule in enumerate(report["rules"]):
            for outcome, name in enumerate(("acted", "found_nothing", "failed")):
                tally = rule[name]
                got = [tally["profiles"], tally.get("reg_files", tally["profiles"])]
                want = expected.get(index, {}).get(outcome, [0, 0])
                assert got == want, f"rule {index} ({rule['rule']}) {name}: {got} != {want}"

        # A value name in the wrong letter case and a key with one letter too many.
        text = rules.read_text()
        value = re.search(r'<value action="delete" key=("[^"]*") source="([\w .-]*[A-Z][\w .-]*)"/>',
                          text)
        key = re.search(r'<key action="delete" source="([^"]*)"/>', text)
        slipped = text.replace(value.group(0), value.group(0).replace(
            f'source="{value.group(2)}"', f'source="{value.group(2).lower()}"'))
        slipped = slipped.replace(key.group(0), key.group(0).replace(
            key.group(1), key.group(1) + "x"))
        rules.write_text(slipped)
        run = subprocess.run([inspect, "preview", rules, profiles / "p01.zip"],
                             capture_output=True, text=True)
        assert run.returncode == 1, run.stderr
        case_slip = (f"near miss: '{value.group(2).lower()}' not found; '{value.group(2)}' "
                     "differs only in letter case (1 profile)")
        assert case_slip in run.stdout, run.stdout
        wanted = f"near miss: key '{key.group(1)}x' not found; '"
        assert wanted in run.stdout and "acted nowhere" in run.stdout, run.stdout
    print(f"preview matches {count} verbose migrations")


main()
