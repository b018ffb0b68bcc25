#!/usr/bin/env python3
"""Prints a migration XML of 100 mixed rules (every action of every element) for a profile
archive made by the benchmark generator: 25 key, 25 value, 25 directory and 25 file rules,
interleaved, each aimed at something the archive really holds, none of them stopping the run."""

import re
import sys
import zipfile
from xml.sax.saxutils import quoteattr


def registry_keys(archive):
    """Key paths and some of their value names, from the archive's .reg files."""
    keys = []
    for name in archive.namelist():
        if not (name.startswith("Registry/") and name.endswith(".reg")):
            continue
        text = archive.read(name).decode("utf-16")
        for section in re.finditer(r"^\[([^\]\r\n]+)\]\r?\n((?:\"[^\r\n]*\r?\n)*)", text, re.M):
            values = re.findall(r'^"((?:[^"\\]|\\.)*)"=', section.group(2), re.M)
            keys.append((section.group(1), [v.replace('\\"', '"').replace("\\\\", "\\") for v in values]))
    return keys


def main():
    archive = zipfile.ZipFile(sys.argv[1])
    keys = [k for k in registry_keys(archive) if k[1] and "ImportMarkers" not in k[0]]
    step = max(1, len(keys) // 60)
    picked = keys[::step][:60]
    names = archive.namelist()
    # Folders at least three levels deep: below a token and a vendor folder, so that copies stay
    # small and a name with a suffix stays inside its token's folder.
    dirs = sorted({n.rsplit("/", 2)[0] for n in names
                   if n.count("/") >= 4 and not n.startswith("Registry/")})
    files = [n for n in names if not n.endswith("/") and not n.startswith("Registry/")]
    dirs = dirs[:: max(1, len(dirs) // 30)][:30]
    files = files[:: max(1, len(files) // 40)][:40]

    def win(path):
        return path.replace("/", "\\")

    rules = []
    for i in range(25):
        key, values = picked[i]
        action = ["create", "delete", "rename", "move_value", "create"][i % 5]
        if action == "create":
            rules.append('<key action="create" source=%s/>' % quoteattr(key + "\\Migrated"))
        elif action == "delete":
            rules.append('<key action="delete" source=%s/>' % quoteattr(key))
        elif action == "rename":
            rules.append('<key action="rename" source=%s destination=%s/>'
                         % (quoteattr(key), quoteattr(key + " (migrated)")))
        else:
            rules.append('<key action="move_value" source=%s destination=%s value=%s/>'
                         % (quoteattr(key), quoteattr(key + "\\Moved"), quoteattr(values[0])))
        key, values = picked[25 + i]
        kind = i % 5
        if kind == 0:
            rules.append('<value action="set" key=%s source="Count" type="integer">%d</value>'
                         % (quoteattr(key), i))
        elif kind == 1:
            rules.append('<value action="set" key=%s source="Folder" type="string" flags="2">'
                         'AppData\\Migrated</value>' % quoteattr(key))
        elif kind == 2:
            rules.append('<value action="rename" key=%s source=%s destination="Renamed"/>'
                         % (quoteattr(key), quoteattr(values[0])))
        elif kind == 3:
            rules.append('<value action="delete" key=%s source=%s/>'
                         % (quoteattr(key), quoteattr(values[0])))
        else:
            rules.append('<value action="convert" key=%s source=%s type="binary"/>'
                         % (quoteattr(key), quoteattr(values[0])))
        d = win(dirs[i % len(dirs)])
        action = ["copy", "create", "move", "delete", "create"][i % 5]
        if action in ("copy", "move"):
            rules.append('<directory action="%s" source=%s destination=%s/>'
                         % (action, quoteattr(d), quoteattr(d + " migrated")))
        elif action == "create":
            rules.append('<directory action="create" source=%s/>' % quoteattr(d + "\\New%d" % i))
        else:
            rules.append('<directory action="delete" source=%s/>' % quoteattr(d))
        f = win(files[i])
        action = ["copy", "create", "move", "delete", "convert"][i % 5]
        if action in ("copy", "move"):
            rules.append('<file action="%s" source=%s destination=%s/>'
                         % (action, quoteattr(f), quoteattr(f + ".migrated")))
        elif action == "create":
            rules.append('<file action="create" source=%s>TWlncmF0ZWQgYnkgdGhlIGJlbmNobWFyaw==</file>'
                         % quoteattr(f + ".new"))
        elif action == "delete":
            rules.append('<file action="delete" source=%s/>' % quoteattr(f))
        else:
            rules.append('<file action="convert" source=%s destination=%s/>'
                         % (quoteattr(f), quoteattr(f + ".bmp")))
    print('<?xml version="1.0" encoding="utf-8"?>\n<migration>')
    for rule in rules:
        print("  " + rule)
    print("</migration>")


if __name__ == "__main__":
    main()
