#!/usr/bin/env python3
"""Checks what OrvexInspect and OrvexRollout write for scripts and for people on the example: the
JSON of check, diff and the roll-out report against the schemas in docs/, and the HTML reports of
diff, preview and the roll-out in headless Chromium (the summary, the changes and each rule's row
in the DOM). The reports and their screenshots stay in the output folder."""
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
    parser.add_argument("--rollout", required=True)
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

        # Named as a user names them, so that the reports' titles read well.
        report = os.path.join(os.path.abspath(args.out), "example-report.html")
        run([args.inspect, "diff", "--html", report, "Profile.zip", "Migrated.zip"], 1, cwd=work)
        preview = os.path.join(os.path.abspath(args.out), "example-preview.html")
        shutil.copy(rules, os.path.join(work, "migration.xml"))
        run([args.inspect, "preview", "--html", preview, "migration.xml", "Profile.zip"], 0,
            cwd=work)
        # A share of the example and an archive that is none: one migrated, one failed.
        share = os.path.join(work, "share")
        os.makedirs(os.path.join(share, "u1"))
        shutil.copy(profile, os.path.join(share, "u1", "Profile.zip"))
        with open(os.path.join(share, "broken.zip"), "w", encoding="utf-8") as f:
            f.write("no archive")
        rollout = os.path.join(os.path.abspath(args.out), "rollout.html")
        totals = validate(run([args.rollout, "migrate", rules, share, "--to",
                               os.path.join(work, "out"), "--html", rollout, "--json"], 1),
                          os.path.join(docs, "json-rollout.schema.json"), "roll-out")["totals"]
        assert (totals["migrated"], totals["failed"]) == (1, 1), totals
    for page in (report, preview):
        with open(page, encoding="utf-8") as f:
            assert not re.search(r'\b(src|href)=', f.read()), page + " refers to another file"

    browser = shutil.which("chromium")
    if browser is None:
        print("Chromium is not installed (make test installs it): the report was not opened")
        return SKIPPED
    dom = browse(browser, report, "--dump-dom")
    for piece in ('<section id="summary">', "<th>keys</th>", "<th>values</th>", "<th>files</th>",
                  '<section class="profile">', "Registry/User.reg",
                  "&gt; AppData/Larkspur/Notes/ -&gt; AppData/Larkspur Labs/Quillmark/"):
        assert piece in dom, "not in the report's DOM: " + piece
    # One row per rule of the rule file, with the line of its element.
    with open(rules, encoding="utf-8") as f:
        text = f.read()
    lines = [str(text.count("\n", 0, m.start()) + 1)
             for m in re.finditer(r"<(key|value|directory|file)\s", text)]
    dom = browse(browser, preview, "--dump-dom")
    rows = re.findall(r'<tr class="rule"><td class="n">(\d+)</td>', dom)
    assert rows == lines, "the rule rows are those of lines %s, not %s" % (rows, lines)
    for piece in ('<section id="summary">', "<th>would succeed</th>", '<section id="rules">',
                  '<h2 class="path">Profile.zip</h2>', "<p>exit code 0</p>",
                  "&gt; AppData/Larkspur/Notes/ -&gt; AppData/Larkspur Labs/Quillmark/"):
        assert piece in dom, "not in the preview's DOM: " + piece
    dom = browse(browser, rollout, "--dump-dom")
    for piece in ('<section id="summary">', "<tr><th>migrated</th><td class=\"n\">1</td></tr>",
                  "<tr><th>failed</th><td class=\"n\">1</td></tr>", '<section id="failures">',
                  "broken.zip"):
        assert piece in dom, "not in the roll-out report's DOM: " + piece
    for page in (report, preview, rollout):
        screenshot = os.path.splitext(page)[0] + ".png"
        browse(browser, page, "--screenshot=" + screenshot, "--window-size=1366,900",
               "--hide-scrollbars")
        assert os.path.getmtime(screenshot) >= os.path.getmtime(page), "no new screenshot"
        print("screenshot:", screenshot)
    return 0


if __name__ == "__main__":
    sys.exit(main())
