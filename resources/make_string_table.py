#!/usr/bin/env python3
"""Turns a string-table data file into the C++ table behind LoadStringResource.

Usage: make_string_table.py <data file> <output .cc>

Data lines are "<id in hex><TAB><text>"; blank lines and lines starting with # are skipped. Texts
are written as UTF-16 literals with every non-ASCII or special character escaped, so the output
does not depend on the compiler's source character set.
"""

import sys


def parse(path):
    entries = {}
    with open(path, encoding="utf-8") as data:
        for number, line in enumerate(data, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            key, tab, text = line.partition("\t")
            if not tab or not text:
                sys.exit(f"{path}:{number}: expected '<id>\\t<text>'")
            try:
                ident = int(key, 16)
            except ValueError:
                sys.exit(f"{path}:{number}: '{key}' is not a hexadecimal number")
            if not 0 <= ident <= 0xFFFF:
                sys.exit(f"{path}:{number}: id {key} does not fit in 16 bits")
            if ident in entries:
                sys.exit(f"{path}:{number}: id {key} appears twice")
            entries[ident] = text
    return entries


def literal(text):
    out = []
    for ch in text:
        code = ord(ch)
        if ch in '"\\?':  # '?' too, so that no trigraph-like sequence forms
            out.append("\\" + ch)
        elif 0x20 <= code < 0x7F:
            out.append(ch)
        elif code <= 0xFFFF:
            out.append(f"\\u{code:04X}")
        else:
            out.append(f"\\U{code:08X}")
    return 'u"' + "".join(out) + '"'


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    entries = parse(sys.argv[1])
    rows = "\n".join(f"    {{0x{ident:04X}, {literal(text)}}},"
                     for ident, text in sorted(entries.items()))
    source = f"""// Generated from {sys.argv[1].rsplit('/', 1)[-1]} by make_string_table.py; do not edit.
#include "resources/string_table.h"

#include <algorithm>
#include <iterator>

namespace orvex {{
namespace {{

struct Entry {{
  std::uint32_t id;
  std::u16string_view text;
}};

constexpr Entry kEntries[] = {{
{rows}
}};

}}  // namespace

std::u16string_view LoadStringResource(std::uint32_t id) {{
  const auto* found = std::lower_bound(std::begin(kEntries), std::end(kEntries), id,
                                       [](const Entry& entry, std::uint32_t key) {{
                                         return entry.id < key;
                                       }});
  if (found == std::end(kEntries) || found->id != id) return {{}};
  return found->text;
}}

}}  // namespace orvex
"""
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(source)


if __name__ == "__main__":
    main()
