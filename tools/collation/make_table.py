#!/usr/bin/env python3
"""Measures the Windows case-insensitive sort order under Wine and writes the weight table that the
portable comparison (src/platform/sort_key.cc) builds its keys from.

Usage: tools/collation/make_table.py [--prefix DIR] [--output FILE]
  --prefix  the Wine prefix to measure in (default build/collation-wine); the order measured is
            that of its user locale (LOCALE_USER_DEFAULT, en-US in a new prefix), the one the
            Windows build compares with
  --output  the generated C++ source (default src/platform/sort_weights.cc)

It builds measure.cc with mingw-w64, asks it for the sort key of every code unit alone and in the
contexts below, and derives what each unit contributes to the four levels of a key:
  first level   the unit's weight bytes (ideographs and private-use units have longer ones)
  diacritics    one byte per element; a nonspacing mark adds its weight to the byte before it
  case          one byte per element (what remains of case when case is ignored: width, forms)
  kana          four bytes per kana element (small, repeat, kana type, width)
and, behind the levels, the word-sort weight of the units that the first level ignores (hyphen,
apostrophe, controls), each with its position. Every rule derived here is checked against every
measurement that shows it; a measurement the rules do not explain stops the script.

Where Wine, the platform measured here, cannot stand for Windows, the table does not follow it:
- Precomposed units that hold a nonspacing mark or an ignored unit (Hebrew and Arabic presentation
  forms, some Greek and Tibetan, listed in the generated file): Wine's sort keys write the zero
  weights of those elements (00 00, 01 00), so its keys and its own comparison disagree. The
  comparison treats them as the units they stand for, and so does the table.
- Kana repeat marks after an ideograph, an expansion into ideographs or jamo, or a unit the first
  level ignores: Wine takes pieces of the weights before them as theirs (after U+4E00 a weight of
  05 3C and a diacritic weight of 6A). The table lets them stand alone there.
- Conjoining jamo: Wine merges some sequences (a trailing consonant into the syllable before it)
  by rules the table does not model; each jamo keeps its own weights.
"""

import argparse
import collections
import os
import pathlib
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
COMPILER = "x86_64-w64-mingw32-g++-posix"

# Kinds of what a unit contributes; the numbers are those of sort_weights.h.
IGNORED, SPECIAL, MARK, ELEMENT, KANA, EXPANSION, DECOMPOSITION, ITERATION, PROLONGATION = range(9)
KIND_NAMES = ["kIgnored", "kSpecial", "kMark", "kElement", "kKana", "kExpansion", "kDecomposition",
              "kIteration", "kProlongation"]

DEFAULT_DIACRITIC = 2
DEFAULT_CASE = 2
KANA_DEFAULTS = (0xC6, 0x03, 0xE4, 0xC5)  # small, repeat, kana type, width
KANA_SEPARATORS = (0xFF, 0x02, 0xFF, 0xFF)
PROBE_DIACRITIC = 0x00E9  # é: one element whose diacritic weight is not the default
PROBE_CASE = 0xFF21       # fullwidth A: one element whose case weight is not the default


class Oracle:
    """measure.exe under Wine; each batch of requests is one run of the program."""

    def __init__(self, prefix, work):
        self.prefix = prefix
        self.work = pathlib.Path(work)
        self.exe = self.work / "measure.exe"
        # The questions go to the Windows build's own text services.
        subprocess.run([COMPILER, "-std=c++20", "-O2", "-static", "-I", str(ROOT / "src"),
                        "-o", str(self.exe), str(ROOT / "tools/collation/measure.cc"),
                        str(ROOT / "src/platform/win32/text.cc")], check=True)

    def ask(self, requests):
        # Wine's helper processes inherit the program's output; a file, not a pipe, takes it.
        questions = self.work / "requests.txt"
        answers = self.work / "answers.txt"
        questions.write_text("".join(r + "\n" for r in requests))
        with open(questions) as stdin, open(answers, "w") as stdout:
            subprocess.run([str(ROOT / "scripts/wine-run.sh"), str(self.prefix), str(self.exe)],
                           stdin=stdin, stdout=stdout, stderr=subprocess.DEVNULL, check=True,
                           timeout=600)
        return answers.read_text().splitlines()

    def keys(self, texts):
        lines = self.ask(["K " + " ".join("%X" % u for u in text) for text in texts])
        if len(lines) != len(texts):
            sys.exit("measure.exe gave %d answers to %d requests" % (len(lines), len(texts)))
        return [Key.parse(line) for line in lines]


class Key:
    """A sort key split into its levels (first, diacritics, case, kana, word-sort weights)."""

    def __init__(self, levels):
        self.first, self.diacritics, self.cases, self.kana, self.specials = levels

    @staticmethod
    def parse(text):
        data = bytes.fromhex(text)
        # Only the first level can hold the separator byte, so the levels are split from the end.
        levels = data.rsplit(b"\x01", 4)
        if len(levels) != 5:
            sys.exit("not a sort key: " + text)
        return Key(levels)


def padded(level, count, default):
    """The weights of a level as count entries: the platform leaves out defaults at the end."""
    if len(level) > count:
        sys.exit("more weights than elements")
    return list(level) + [default] * (count - len(level))


def kana_sections(kana):
    """The four kana sections of a key's kana level, each still without its trailing defaults."""
    sections = []
    rest = kana
    for separator in KANA_SEPARATORS:
        end = rest.find(bytes([separator]))
        if end < 0:
            sys.exit("not a kana level: " + kana.hex())
        sections.append(rest[:end])
        rest = rest[end + 1:]
    if rest:
        sys.exit("not a kana level: " + kana.hex())
    return sections


class Unit:
    """What one code unit contributes, as derived from its keys."""

    def __init__(self, kind, weight=0, diacritics=(), cases=(), prefix=b"", kana=None):
        self.kind = kind
        self.weight = weight          # 16 bits: first-level, special or pool reference
        self.diacritics = list(diacritics)
        self.cases = list(cases)
        self.prefix = prefix          # first-level bytes before the 16-bit weight
        self.kana = kana              # the four kana weights of a kana element
        self.first = b""              # all first-level bytes (expansions)
        self.vowel = 0                # kana: the first-level weight a prolonged sound mark takes
        self.units = []               # decompositions


def classify(code, alone, with_diacritic, with_case):
    """Derives a unit's contribution from its key alone and its keys before the two probes."""
    if alone.specials:
        if alone.first or alone.diacritics or alone.cases or alone.kana or len(alone.specials) != 4 \
                or alone.specials[:2] != b"\xff\xff":
            sys.exit("U+%04X: unexpected word-sort weight" % code)
        return Unit(SPECIAL, int.from_bytes(alone.specials[2:], "big"))
    if not alone.first:
        if alone.cases or alone.kana or len(alone.diacritics) > 1:
            sys.exit("U+%04X: unexpected weights without a first-level weight" % code)
        if alone.diacritics:
            return Unit(MARK, diacritics=alone.diacritics)
        return Unit(IGNORED)
    # Elements: the probes' own weight ends each level, so the rest is every element's weight.
    # Private-use units have a case weight but no diacritic weight.
    diacritics = list(with_diacritic.diacritics[:-1])
    if with_diacritic.diacritics[-1:] != bytes([0x0E]) or with_case.cases[-1:] != bytes([3]):
        sys.exit("U+%04X: the probes did not show its elements" % code)
    cases = list(with_case.cases[:-1])
    if alone.first == b"\xff\xff" and not diacritics and not cases:
        return Unit(ELEMENT, 0xFFFF)  # a kana repeat mark with nothing to repeat; see find_repeats
    first = alone.first
    if zero_weight_elements(first):
        unit = Unit(EXPANSION, diacritics=diacritics, cases=cases)
        unit.first = first
        return unit  # see find_decompositions
    if padded(alone.diacritics, len(diacritics), DEFAULT_DIACRITIC) != diacritics or \
            padded(alone.cases, len(cases), DEFAULT_CASE) != cases or 0 in diacritics + cases:
        sys.exit("U+%04X: its weights differ alone and before the probes" % code)
    if alone.kana:
        sections = kana_sections(alone.kana)
        if len(diacritics) != 1 or len(cases) != 1 or len(first) != 2 \
                or any(len(s) > 1 for s in sections):
            sys.exit("U+%04X: unexpected kana weights" % code)
        kana = tuple(s[0] if s else d for s, d in zip(sections, KANA_DEFAULTS))
        return Unit(KANA, int.from_bytes(first, "big"), diacritics, cases, kana=kana)
    if len(diacritics) <= 1 and len(cases) == 1 and (
            len(first) == 2 or (len(first) == 3 and not diacritics) or first[:2] == b"\xfd\xff"):
        return Unit(ELEMENT, int.from_bytes(first[-2:], "big"), diacritics, cases, first[:-2])
    unit = Unit(EXPANSION, diacritics=diacritics, cases=cases)
    unit.first = first
    return unit


def zero_weight_elements(first):
    """Whether the first level holds an element that has no first-level weight of its own: the
    platform writes such elements (nonspacing marks and ignored units inside a precomposed unit)
    as 01 00 or 00 00 in its keys, but its comparison treats them as the units they stand for."""
    if len(first) % 2:
        return False
    return any(first[i] in (0, 1) and first[i + 1] == 0 for i in range(0, len(first), 2))


def find_decompositions(units, oracle):
    """Precomposed units whose keys hold zero-weight elements, as the units they stand for; each
    is confirmed by the platform's comparison."""
    marks = {}
    elements = {}
    for code in range(0xFFFF, -1, -1):  # the lowest code unit wins
        u = units[code]
        if u.kind == MARK:
            marks[u.diacritics[0]] = code
        elif u.kind == ELEMENT and not u.prefix:
            elements[(u.weight, u.diacritics[0], u.cases[0])] = code
    found = {}
    for code, u in enumerate(units):
        if u.kind != EXPANSION or not zero_weight_elements(u.first):
            continue
        pairs = [u.first[i:i + 2] for i in range(0, len(u.first), 2)]
        diacritics = padded(u.diacritics, len(pairs), DEFAULT_DIACRITIC)
        cases = padded(u.cases, len(pairs), DEFAULT_CASE)
        sequence = []
        for pair, diacritic, case in zip(pairs, diacritics, cases):
            if pair == b"\x00\x00":
                continue  # an ignored unit
            if pair == b"\x01\x00":
                sequence.append(marks[diacritic])
            else:
                sequence.append(elements[(int.from_bytes(pair, "big"), diacritic, case)])
        found[code] = sequence
    requests = ["C %X | %s" % (code, " ".join("%X" % s for s in seq)) for code, seq in found.items()]
    for answer, (code, seq) in zip(oracle.ask(requests), found.items()):
        if answer != "0":
            sys.exit("U+%04X is not equal to %s" % (code, " ".join("%04X" % s for s in seq)))
        units[code].kind = DECOMPOSITION
        units[code].units = seq
    return sorted(found)


def find_repeats(units, oracle):
    """The kana repeat marks: alone they weigh FF FF; after a kana they repeat it (or, for the
    prolonged sound marks, its vowel) with some weights of their own; after a unit of one plain
    element they repeat that element's first-level and diacritic weights."""
    repeats = [c for c, u in enumerate(units)
               if u.kind == ELEMENT and not u.prefix and u.weight == 0xFFFF]
    kana = [c for c, u in enumerate(units) if u.kind == KANA]
    plain = [c for c, u in enumerate(units)
             if u.kind == ELEMENT and len(u.prefix) < 2 and c not in repeats]
    # The probes behind the mark show its diacritic and case weights even where they are small.
    probes = (PROBE_DIACRITIC, PROBE_CASE)
    texts = [(x, r) + probes for r in repeats for x in kana + plain]
    measured = {text[:2]: key for text, key in zip(texts, oracle.keys(texts))}
    probe_first = b"\x0e\x21\x0e\x02"
    vowels = collections.defaultdict(set)
    for r in repeats:
        seen = collections.defaultdict(set)
        for x in kana:
            k = units[x]
            got = measured[(x, r)]
            sections = [padded(s, 2, d) for s, d in zip(kana_sections(got.kana), KANA_DEFAULTS)]
            if len(got.first) != 8 or got.first[:2] != k.weight.to_bytes(2, "big") \
                    or got.first[4:] != probe_first or got.specials \
                    or got.diacritics[:1] != bytes(k.diacritics) or got.diacritics[2:] != b"\x0e" \
                    or got.cases[:1] != bytes(k.cases) or got.cases[2:] != b"\x02\x03" \
                    or tuple(s[0] for s in sections) != k.kana:
                sys.exit("U+%04X U+%04X: not a repeat of the kana" % (x, r))
            vowels[x].add(int.from_bytes(got.first[2:4], "big"))
            seen["prolongs"].add(got.first[2:4] != got.first[:2])
            seen["diacritic"].add(got.diacritics[1])
            seen["case"].add(got.cases[1])
            for i, s in enumerate(sections):
                seen[i].add((k.kana[i], s[1]))
        own = []  # 0 where the mark copies the kana's weight
        for i in range(4):
            if all(before == after for before, after in seen[i]):
                own.append(0)
            elif len({after for _, after in seen[i]}) == 1:
                own.append(seen[i].pop()[1])
            else:
                sys.exit("U+%04X: kana weight %d is neither copied nor its own" % (r, i))
        if len(seen["diacritic"]) != 1 or len(seen["case"]) != 1 or (own[0], own[2]) != (0, 0) \
                or not own[1]:
            sys.exit("U+%04X: unexpected repeat weights" % r)
        prolongs = True in seen["prolongs"]
        units[r] = Unit(PROLONGATION if prolongs else ITERATION, 0xFFFF,
                        diacritics=list(seen["diacritic"]), cases=list(seen["case"]),
                        kana=tuple(own))
        for x in plain:
            p = units[x]
            got = measured[(x, r)]
            first = p.prefix + p.weight.to_bytes(2, "big")
            if got.first != first * 2 + probe_first or got.kana or got.specials \
                    or list(got.diacritics) != p.diacritics * 2 + [0x0E] \
                    or list(got.cases) != [p.cases[0], units[r].cases[0], 2, 3]:
                sys.exit("U+%04X U+%04X: the repeat mark does not repeat the element" % (x, r))
    for x in kana:
        iterated = {units[x].weight}
        if len(vowels[x] - iterated) > 1:
            sys.exit("U+%04X: two vowels" % x)
        units[x].vowel = (vowels[x] - iterated or iterated).pop()
    return repeats


def check_marks(units, oracle):
    """A nonspacing mark adds its weight to the diacritic weight of the element before it."""
    marks = [c for c, u in enumerate(units) if u.kind == MARK]
    base = ord("a")
    for code, key in zip(marks, oracle.keys([(base, c) for c in marks])):
        # The sum wraps at 256; the platform leaves a sum of 2 or less at the end out.
        expected = (DEFAULT_DIACRITIC + units[code].diacritics[0]) % 256
        if list(key.diacritics) != ([expected] if expected > DEFAULT_DIACRITIC else []):
            sys.exit("U+%04X: the mark does not add to the element before it" % code)


class Table:
    """The generated source: forms (what a run of units contributes), runs of units, pools."""

    def __init__(self):
        self.forms = {}
        self.runs = []          # [count, form, weight, step]
        self.expansions = []    # bytes
        self.decompositions = []
        self.offsets = {}

    def form(self, u):
        if u.kind in (IGNORED, SPECIAL, EXPANSION, DECOMPOSITION):
            key = (u.kind,)
        elif u.kind == MARK:
            key = (u.kind, b"", u.diacritics[0], 0, (0, 0, 0, 0), 0)
        elif u.kind in (ITERATION, PROLONGATION):
            key = (u.kind, b"", u.diacritics[0], u.cases[0], u.kana, 0)
        else:  # a weight of 0 stands for none
            key = (u.kind, u.prefix, (u.diacritics or [0])[0], u.cases[0], u.kana or (0, 0, 0, 0),
                   u.vowel)
        return self.forms.setdefault(key, len(self.forms))

    def weight(self, u):
        if u.kind == EXPANSION:
            return self.pooled(self.expansions, [len(u.first)] + list(u.first) +
                               [len(u.diacritics)] + u.diacritics + [len(u.cases)] + u.cases)
        if u.kind == DECOMPOSITION:
            return self.pooled(self.decompositions, [len(u.units)] + u.units)
        return u.weight

    def pooled(self, pool, entry):
        """The offset of the entry in the pool, added unless it is there already."""
        key = (id(pool), tuple(entry))
        if key not in self.offsets:
            self.offsets[key] = len(pool)
            pool += entry
        return self.offsets[key]

    def add(self, u):
        form = self.form(u)
        weight = self.weight(u)
        if self.runs:
            run = self.runs[-1]
            count, last_form, first, step = run
            if last_form == form and count == 1:
                run[0], run[3] = 2, (weight - first) & 0xFFFF
                return
            if last_form == form and (first + count * step) & 0xFFFF == weight:
                run[0] += 1
                return
        self.runs.append([1, form, weight, 0])

    def write(self, path, decomposed, repeats):
        def rows(values):
            lines = [""]
            for item in ("%d," % v for v in values):
                if len(lines[-1]) + len(item) > 100:
                    lines.append("")
                lines[-1] += item
            return "\n".join(lines)

        out = [
            "// Generated by tools/collation/make_table.py from the sort keys and comparisons that",
            "// LCMapStringW and CompareStringW (NORM_IGNORECASE) give under Wine; do not edit.",
            "// Units with zero-weight elements, compared as the units they stand for:",
        ]
        out += ["//  " + " ".join("%04X" % c for c in decomposed[i:i + 20])
                for i in range(0, len(decomposed), 20)]
        out += ["// Kana repeat marks: " + " ".join("%04X" % c for c in repeats) + ".",
                '#include "platform/sort_weights.h"', "",
                "namespace orvex::sort_weights {", "", "// clang-format off", "",
                "// kind, first-level prefix size and bytes, diacritic, case, kana weights, vowel",
                "const Form kForms[] = {"]
        for key, _ in sorted(self.forms.items(), key=lambda f: f[1]):
            kind, prefix, diacritic, case, kana, vowel = key + (b"", 0, 0, (0, 0, 0, 0), 0)[len(key) - 1:]
            prefix_bytes = list(prefix) + [0] * (2 - len(prefix))
            out.append("    {%s, %d, {%d, %d}, %d, %d, {%d, %d, %d, %d}, %d}," % (
                (KIND_NAMES[kind], len(prefix)) + tuple(prefix_bytes) + (diacritic, case) +
                tuple(kana) + (vowel,)))
        out += ["};", "const std::size_t kFormCount = %d;" % len(self.forms), "",
                "// unit count, form, weight of the first unit, step from unit to unit",
                "const std::uint16_t kRuns[] = {",
                rows([v for run in self.runs for v in run]),
                "};", "const std::size_t kRunCount = %d;" % len(self.runs), "",
                "// first-level size and bytes, diacritic count and weights, case count and weights",
                "const std::uint8_t kExpansions[] = {", rows(self.expansions), "};",
                "const std::size_t kExpansionSize = %d;" % len(self.expansions), "",
                "// unit count, units",
                "const char16_t kDecompositions[] = {", rows(self.decompositions), "};",
                "const std::size_t kDecompositionSize = %d;" % len(self.decompositions), "",
                "// clang-format on", "", "}  // namespace orvex::sort_weights", ""]
        pathlib.Path(path).write_text("\n".join(out))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--prefix", default=str(ROOT / "build/collation-wine"))
    parser.add_argument("--output", default=str(ROOT / "src/platform/sort_weights.cc"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        oracle = Oracle(args.prefix, work)
        alone = [Key.parse(line.split(" ", 1)[1] if " " in line else "")
                 for line in oracle.ask(["U"])]
        probes = oracle.keys([(c, PROBE_DIACRITIC) for c in range(0x10000)] +
                             [(c, PROBE_CASE) for c in range(0x10000)])
        units = [classify(c, alone[c], probes[c], probes[0x10000 + c]) for c in range(0x10000)]
        repeats = find_repeats(units, oracle)
        decomposed = find_decompositions(units, oracle)
        check_marks(units, oracle)
    table = Table()
    for u in units:
        table.add(u)
    table.write(args.output, decomposed, repeats)
    kinds = collections.Counter(KIND_NAMES[u.kind] for u in units)
    print("%d forms, %d runs, %d expansion bytes, %d decomposition units; %s" %
          (len(table.forms), len(table.runs), len(table.expansions), len(table.decompositions),
           ", ".join("%s %d" % kv for kv in sorted(kinds.items()))))


if __name__ == "__main__":
    main()
