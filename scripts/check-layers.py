#!/usr/bin/env python3
"""Checks every include of the project's own headers against the layer table.

The table is the one in docs/architecture.md under "## Layers": its rows run from the top layer
down, and rows that name the same layer are peers. A source file may include headers of its own
folder and of folders in lower layers only. The test helpers (rows whose layer name ends in "test
helpers") are for tests (`*_test.cc`, `*_test_support.h`) and each other only, whatever their row. Folders outside the table (tests/,
bench/, fuzz/, tools/) stand above every layer and are not checked.

    scripts/check-layers.py [ROOT]

It also checks that the rule vocabulary is written once: the words of the tables beside the rule
processors and the XML reader (actions, value types, attributes: `{u"word", ...}` rows) appear as
literals nowhere else outside tests. Attribute names that are element names too ("key", "value")
are left out, since reports use them as plain words.

Prints each include that points up or sideways and each stray rule word, and exits 1 when there is
any.
"""

import pathlib
import re
import sys

ROW = re.compile(r"^\|\s*([^|`]+?)\s*\|\s*`([^`]+)/`\s*\|")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
WORD_TABLES = ("src/rules/xml_config.h", "src/transforms/registry/key_rules.h",
               "src/transforms/registry/value_rules.h", "src/transforms/files/directory_rules.h",
               "src/transforms/files/file_rules.h")
TABLE_ROW = re.compile(r'\{u"(\w+)", (\w+)::(\w+)\}|\{u"(\w+)", REG_\w+\}')


def read_layers(root):
    """Folder -> (rank, layer name); rank 0 is the top layer."""
    text = (root / "docs/architecture.md").read_text(encoding="utf-8")
    section = text.split("\n## Layers\n", 1)[1].split("\n## ", 1)[0]
    layers, names = {}, []
    for line in section.splitlines():
        match = ROW.match(line)
        if not match:
            continue
        name, folder = match.groups()
        if name not in names:
            names.append(name)
        layers[folder] = (names.index(name), name)
    if not layers:
        sys.exit("check-layers: no layer table in docs/architecture.md")
    return layers


def owner(path, layers):
    """The table's folder that holds path (the longest that does), or None."""
    best = None
    for folder in layers:
        if (path == folder or path.startswith(folder + "/")) and (
                best is None or len(folder) > len(best)):
            best = folder
    return best


def included_path(root, include):
    """The project path an include names, relative to the root, or None for outside headers."""
    for base in ("src", "."):
        candidate = root / base / include
        if candidate.exists():
            return candidate.resolve().relative_to(root).as_posix()
    return None


def rule_words(root):
    """The words of the rule vocabulary, from their tables."""
    words, elements = set(), set()
    for table in WORD_TABLES:
        for match in TABLE_ROW.finditer((root / table).read_text(encoding="utf-8")):
            word, kind, _, type_word = match.groups()
            if kind == "RuleKind":
                elements.add(word)
            else:
                words.add(word or type_word)
    return words - elements


def stray_words(root, relative, text, words):
    """Prints each literal rule word of a file outside the tables; returns how many."""
    faults = 0
    for number, line in enumerate(text.splitlines(), 1):
        for word in re.findall(r'\bu"(\w+)"', line):
            if word in words:
                print(f"{relative}:{number}: the rule word \"{word}\" written outside its table")
                faults += 1
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    layers = read_layers(root)
    words = rule_words(root)
    faults = 0
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".cc", ".h") or "build" in source.relative_to(root).parts[:1]:
            continue
        relative = source.relative_to(root).as_posix()
        home = owner(relative, layers)
        if home is None:
            continue
        is_test = source.stem.endswith(("_test", "_test_support"))
        text = source.read_text(errors="replace")
        if not is_test and not layers[home][1].endswith("test helpers") and \
                relative not in WORD_TABLES:
            faults += stray_words(root, relative, text, words)
        rank = layers[home][0]
        for number, line in enumerate(text.splitlines(), 1):
            match = INCLUDE.match(line)
            target = match and included_path(root, match.group(1))
            there = target and owner(target, layers)
            if not there or there == home:
                continue
            there_rank, there_name = layers[there]
            if there_name.endswith("test helpers"):
                if is_test or layers[home][1].endswith("test helpers"):
                    continue
            elif there_rank > rank:
                continue
            print(f"{relative}:{number}: {home}/ ({layers[home][1]}) includes {target} "
                  f"({there_name}), which is not below it")
            faults += 1
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
