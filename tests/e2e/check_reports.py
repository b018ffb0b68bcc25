#!/usr/bin/env python3
"""Checks what OrvexInspect writes for scripts and for people on the example: the JSON of check and
diff against the schemas in docs/, and the HTML report of diff in headless Chromium (its summary and
changes in the DOM). The report and its screenshot stay in the output folder."""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import jsonschema

SKIPPED = 77  # what CTest counts as a skipped test


def run(args, expect, cwd=None):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False,
                            cwd=cwd)
    if result.returncode != expect:
        sys.exit("%s exited with %d, not %d: %s" %
                 (" ".join(args), result.returncode, expect, result.stderr.decode()))
    return result.stdout.decode("utf-8")


def validate(text, schema_file, what):
    with open(schema_file, encoding="utf-8") as f:
        schema = json.load(f)
    document = json.loads(text)
    jsonschema.Draft202012Validator(schema).validate(document)
    print("valid:", what)
    return document


def browse(browser, page, *options):
    # As root the sandbox cannot start; the page fetches nothing, so none is needed.
    args = [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
            "--disable-extensions", "--no-proxy-server", *options, "file://" + page]
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                          timeout=120).stdout.decode("utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--migrate", required=True)
    parser.add_argument("--inspect", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--out", required=True, help="where the report and its screenshot stay")
    args = parser.parse_args()
    args.inspect = os.path.abspath(args.inspect)
    docs = os.path.join(args.source, "docs")
    rules = os.path.join(args.source, "examples", "migration.xml")
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        profile = os.path.join(work, "Profile.zip")
        migrated = os.path.join(work, "Migrated.zip")
        broken = os.path.join(work, "broken.xml")
        subprocess.run([sys.executable, os.path.join(args.source, "examples", "make_profile.py"),
                        profile], check=True)
        run([args.migrate, "/INPUT", profile, "/OUTPUT", migrated, "/XML", rules], 0)
        with open(rules, encoding="utf-8") as f:
            text = f.read().replace('type="integer"', 'type="int"')
        with open(broken, "w", encoding="utf-8") as f:
            f.write(text.replace('source="AppData\\Larkspur"', 'source="AppData\\..\\..\\Larkspur"'))

        check = os.path.join(docs, "json-check.schema.json")
        validate(run([args.inspect, "check", "--json", rules], 0), check, "check of the example")
        found = validate(run([args.inspect, "check", "--json", "--strict", broken], 2), check,
                         "check of a broken rule file")
        assert found["summary"] == {"errors": 2, "warnings": 0}, found["summary"]

        diff = os.path.join(docs, "json-diff.schema.json")
        validate(run([args.inspect, "diff", "--json", profile, profile], 0), diff, "equal archives")
        for options in ([], ["--expand"]):
            changes = validate(run([args.inspect, "diff", "--json", *options, profile, migrated], 1),
                               diff, "diff of the example " + " ".join(options))
            kinds = {(d["what"], d["change"]) for d in changes["differences"]}
            for kind in (("key", "moved"), ("value", "moved"), ("directory", "moved")):
                assert kind in kinds, kind

        # Named as a user names them, so that the report's title reads well.
        report = os.path.join(os.path.abspath(args.out), "example-report.html")
        run([args.inspect, "diff", "--html", report, "Profile.zip", "Migrated.zip"], 1, cwd=work)
    with open(report, encoding="utf-8") as f:
        page = f.read()
    assert not re.search(r'\b(src|href)=', page), "the report refers to another file"

    browser = shutil.which("chromium")
    if browser is None:
        print("Chromium is not installed (make test installs it): the report was not opened")
        return SKIPPED
    dom = browse(browser, report, "--dump-dom")
    for piece in ('<section id="summary">', "<th>keys</th>", "<th>values</th>", "<th>files</th>",
                  '<section class="profile">', "Registry/User.reg",
                  "&gt; AppData/Larkspur/Notes/ -&gt; AppData/Larkspur Labs/Quillmark/"):
        assert piece in dom, "not in the report's DOM: " + piece
    screenshot = os.path.join(os.path.abspath(args.out), "example-report.png")
    browse(browser, report, "--screenshot=" + screenshot, "--window-size=1366,900",
           "--hide-scrollbars")
    assert os.path.getmtime(screenshot) >= os.path.getmtime(report), "no new screenshot"
    print("screenshot:", screenshot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
