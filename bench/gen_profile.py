#!/usr/bin/env python3
"""Writes a synthetic user-profile archive for the benchmarks, the same for the same seed and scale.

The archive holds Registry/ with three .reg files (UTF-16LE with a byte-order mark, CR LF line
ends, keys below HKEY_CURRENT_USER\\Software with string, DWORD, QWORD, binary, expandable,
multi-string and typeless values, the import-marker key in the first file, a few sections out of
order; one file holds half of the registry text) and the shell folders AppData, LocalAppData,
Desktop and Personal with nested folders (up to 8 levels) of text files (deflated), random binary
files (stored, as zip stores what does not shrink) and half-empty database-like files, some with
non-ASCII names. At scale 1: about 60 MB of .reg text, 20,000 files of about 400 MB in 2,000
folders; an archive of about 270 MB with some 22,000 entries. Python 3 standard library only.
"""

import argparse
import os
import random
import sys
import zipfile

MB = 1000 * 1000
MIB = 1024 * 1024

WORDS = (
    "Settings Options Preferences Recent Files List Window Placement Toolbar Layout View Columns "
    "Width Height Left Top State Last Used Folder Path Font Size Color Theme Enabled Show Hide "
    "Auto Save Backup Interval Count Index Mode Default User Profile Account Server Port Proxy "
    "Cache History Search Filter Language Locale Version Build Install Update Check Plugin "
    "Extension Shortcut Keyboard Mouse Print Page Margins Document Template Workspace Project "
    "Editor Tab Panel Dock Status Bar Menu Commands Macro Security Trust Certificate Connection "
    "Network Sync Cloud Storage Display Monitor Scale Zoom Grid Snap Units Format Encoding Spell "
    "Dictionary Notifications Sounds Startup License Telemetry Log Debug Trace Level Timeout "
    "Retry Limit Name Value Data Type Flags General Advanced Appearance Behavior Common Shared "
    "Local Remote Session Tips Wizard Dialog Import Export Recovery Undo Clipboard Selection "
    "Layers Palette Filters Effects Preview Thumbnails Icons Handlers Accounts Mail Calendar "
    "Contacts Tasks Notes Rules Signature Offline Queue Jobs Schedule Reminders Alerts").split()
NON_ASCII = ["Données", "Übersicht", "Größe", "Configuración", "Настройки", "設定", "履歴", "文書",
             "Ελληνικά", "Åtgärder", "naïve", "Résumé", "日本語", "한국어", "Čeština", "Łódź",
             "Fotos 📷", "Ordner 📁", "Zoë", "Crème brûlée"]
QUOTED = ['Use "smart" quotes', 'Tom "T" & Co', '"Quoted"', "Joe's Settings", "x\\y", "A\\B\\C"]
SYLLABLES = ("bran vel mor ox tane kel va zar don lum ar quo sen ter fal nix dro pel cas tor wen "
             "gal rex sy mo lin qua be ro vit an el ka nu pre sto").split()
ENV_VARS = ["%USERPROFILE%", "%APPDATA%", "%LOCALAPPDATA%", "%ProgramFiles%", "%SystemRoot%",
            "%TEMP%", "%windir%"]
SENTENCE_WORDS = ("the a of to and in for on with is this file will be opened saved when you "
                  "click ok cancel apply changes settings are stored default value option error "
                  "warning could not find open").split()
MARKER_PRODUCT = "Orvex Zoravudi"
TOP_FOLDERS = [("AppData", 0.30), ("LocalAppData", 0.45), ("Desktop", 0.05), ("Personal", 0.20)]
DIR_WORDS = ["Settings", "Cache", "Profiles", "Templates", "Extensions", "Plugins", "Logs",
             "Backup", "Data", "User Data", "Default", "Local Storage", "Temp", "Recent", "Projects",
             "Archive", "Themes", "Fonts", "Sessions", "Code Cache", "GPUCache", "Thumbnails",
             "Config", "Snippets", "Sync"]
TEXT_EXTS = {".ini": "ini", ".cfg": "ini", ".xml": "xml", ".htm": "xml", ".txt": "log",
             ".json": "log", ".log": "log", ".csv": "log"}
BINARY_EXTS = [".dat", ".bin", ".cache", ".jpg", ".png", ".docx", ".pdf", ".pak", ".dll", ".lnk"]
DATABASE_EXTS = [".db", ".sqlite", ".edb", ".idx"]


# Names and text ----------------------------------------------------------------------------------

def camel(rng, n):
    return "".join(rng.choice(WORDS) for _ in range(n))


def coined(rng):
    return "".join(rng.choice(SYLLABLES) for _ in range(rng.choice((2, 2, 3)))).capitalize()


def guid(rng):
    h = "%032X" % rng.getrandbits(128)
    return "{%s-%s-%s-%s-%s}" % (h[:8], h[8:12], h[12:16], h[16:20], h[20:])


def windows_path(rng):
    parts = [rng.choice(("C:\\Users\\jdoe", "C:\\Program Files", "D:\\Data", "\\\\server\\share"))]
    for _ in range(rng.randint(1, 4)):
        parts.append(rng.choice(NON_ASCII) if rng.random() < 0.08 else rng.choice(WORDS))
    parts.append("%s%d%s" % (rng.choice(WORDS).lower(), rng.randint(0, 99),
                             rng.choice((".txt", ".xml", ".docx", ".ini", ".png"))))
    return "\\".join(parts)


def sentence(rng):
    words = [rng.choice(SENTENCE_WORDS) for _ in range(rng.randint(3, 12))]
    return " ".join(words).capitalize() + "."


def unique(rng, used, make):
    """A name from make() that is not in `used` ignoring case, then taken."""
    name = make()
    while name.lower() in used:
        name = "%s %d" % (make(), rng.randint(2, 999))
    used.add(name.lower())
    return name


# Registry files ----------------------------------------------------------------------------------

def units(text):
    """Length in UTF-16 code units, the unit the writer's line width counts in."""
    return len(text.encode("utf-16-le")) // 2


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def hex_list(prefix, data):
    """prefix and the bytes as comma-separated hex, wrapped as the writer wraps: a new line
    ("," "\\" CR LF and two blanks) before any byte but the first once the column passes 75."""
    digits = data.hex(",")
    first = max(1, (76 - units(prefix)) // 3 + 1)
    lines = [digits[:3 * first - 1]]
    lines += [digits[3 * i:3 * i + 74] for i in range(first, len(data), 25)]
    return prefix + ",\\\r\n  ".join(lines)


def value_line(rng, used):
    r = rng.random()
    name = unique(rng, used, lambda: (
        camel(rng, rng.choice((1, 2, 2, 3))) if r < 0.7 else
        windows_path(rng) if r < 0.8 else
        rng.choice(QUOTED) if r < 0.9 else rng.choice(NON_ASCII)))
    head = quoted(name) + "="
    kind = rng.random()
    if kind < 0.55:  # string
        k = rng.random()
        text = (str(rng.randint(0, 5000)) if k < 0.25 else windows_path(rng) if k < 0.5 else
                sentence(rng) if k < 0.65 else guid(rng) if k < 0.75 else "" if k < 0.85 else
                rng.choice(NON_ASCII) + " " + rng.choice(NON_ASCII))
        return head + quoted(text)
    if kind < 0.74:  # DWORD
        return head + "dword:%08x" % rng.choice((0, 1, rng.randint(2, 99), rng.getrandbits(32)))
    if kind < 0.75:  # QWORD
        return hex_list(head + "hex(b):", rng.randbytes(8))
    if kind < 0.90:  # binary, mostly short, now and then typeless
        if rng.random() < 0.01:
            return head + "hex(0):"
        size = int(min(300, rng.lognormvariate(3.2, 1.0))) + 1
        data = rng.randbytes(size) if rng.random() < 0.5 else bytes(
            b if rng.random() < 0.3 else 0 for b in rng.randbytes(size))
        return hex_list(head + "hex:", data)
    if kind < 0.95:  # expandable string
        text = rng.choice(ENV_VARS) + "\\" + camel(rng, 1) + "\\" + camel(rng, 1) + "\0"
        return hex_list(head + "hex(2):", text.encode("utf-16-le"))
    items = "".join(rng.choice(WORDS) + "\0" for _ in range(rng.choice((0, 1, 2, 3, 4)))) + "\0"
    return hex_list(head + "hex(7):", items.encode("utf-16-le"))


def key_section(rng, path, has_children):
    lines = ["[" + path + "]"]
    if rng.random() >= (0.4 if has_children else 0.08):
        used = set()
        count = rng.randint(1, 5) if rng.random() < 0.8 else rng.randint(6, 40)
        if rng.random() < 0.12:
            lines.append("@=" + quoted(sentence(rng)))
            count -= 1
        lines += [value_line(rng, used) for _ in range(count)]
    return "\r\n".join(lines) + "\r\n\r\n"


def vendor_keys(rng, vendor, count, products):
    """Paths of a vendor's key tree of about `count` keys, depth first, children in name order
    ignoring case; each with whether it has children."""
    children = {vendor: products}
    keys = [vendor] + products
    for _ in range(count):
        parent = rng.choice(keys[-200:] if rng.random() < 0.6 else keys)
        if parent.count("\\") > 9:
            continue
        taken = {c.rsplit("\\", 1)[1].lower() for c in children.setdefault(parent, [])}
        child = parent + "\\" + unique(rng, taken, lambda: (
            camel(rng, rng.choice((1, 1, 2, 3))) if rng.random() < 0.8 else
            rng.choice(NON_ASCII) if rng.random() < 0.5 else guid(rng)))
        children[parent].append(child)
        keys.append(child)
    stack = [vendor]
    while stack:
        key = stack.pop()
        below = sorted(children.get(key, ()), key=str.lower)
        yield key, bool(below)
        stack += reversed(below)


def write_reg(out, rng, target, with_markers):
    """Streams a .reg file of about `target` bytes to `out`."""
    text = ["Windows Registry Editor Version 5.00\r\n\r\n"]
    held = 0  # code units in `text`
    pending = []  # sections held back to appear out of order
    written = 2
    out.write(b"\xff\xfe")
    vendors = 0
    while written < target:
        vendors += 1
        first = with_markers and vendors == 1
        name = "Quenlar" if first else coined(rng) + rng.choice(("", " Software", " Labs", " Inc."))
        products = [MARKER_PRODUCT, "Orvex Studio"] if first else [coined(rng)]
        root = "HKEY_CURRENT_USER\\Software\\" + name
        keys = vendor_keys(rng, root, rng.randint(500, 8000), [root + "\\" + p for p in products])
        for path, has_children in keys:
            section = key_section(rng, path, has_children)
            if first and path == root:  # early, so that every size has it
                section += "[%s\\%s\\ImportMarkers]\r\n\"Pre\"=\"Prologue\"\r\n" \
                           "\"Post\"=\"Epilogue\"\r\n\r\n" % (root, MARKER_PRODUCT)
            if rng.random() < 0.005:
                pending.append(section)
                continue
            text.append(section)
            held += len(section)
            if pending and rng.random() < 0.01:
                text.append(pending.pop(0))
            if held > 50000:
                block = "".join(text).encode("utf-16-le")
                out.write(block)
                written += len(block)
                text, held = [], 0
                if written >= target:
                    break
    out.write("".join(text + pending).encode("utf-16-le"))


# Files -------------------------------------------------------------------------------------------

def text_pool(rng, kind):
    parts, size = [], 0
    while size < 4 * MIB:
        if kind == "ini":
            s = "[%s]\r\n" % camel(rng, 2) + "".join(
                "%s=%s\r\n" % (camel(rng, 2), rng.choice((str(rng.randint(0, 9999)),
                                                          windows_path(rng), guid(rng), "true")))
                for _ in range(rng.randint(2, 12))) + "\r\n"
        elif kind == "xml":
            tag = camel(rng, 1)
            s = '  <%s id="%d" name="%s">\r\n' % (tag, rng.randint(1, 99999), camel(rng, 2)) + "".join(
                "    <%s>%s</%s>\r\n" % (t, rng.choice((sentence(rng), windows_path(rng))), t)
                for t in (camel(rng, 1) for _ in range(rng.randint(1, 6)))) + "  </%s>\r\n" % tag
        else:
            s = "2024-%02d-%02d %02d:%02d:%02d [%s] %s %s\r\n" % (
                rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23), rng.randint(0, 59),
                rng.randint(0, 59), rng.choice(("INFO", "DEBUG", "WARN", "ERROR")), sentence(rng),
                rng.choice(("", windows_path(rng), guid(rng))))
        parts.append(s.encode("utf-8"))
        size += len(parts[-1])
    return b"".join(parts)


def folder_name(rng, depth, top):
    if depth == 1 and top in ("AppData", "LocalAppData"):  # vendors
        return "Quenlar" if rng.random() < 0.1 else coined(rng)
    r = rng.random()
    return (rng.choice(DIR_WORDS) if r < 0.4 else rng.choice(NON_ASCII) if r < 0.45 else
            "%s_%d" % (rng.choice(WORDS).lower(), rng.randint(0, 9999)))


def plan_files(rng, count, total):
    """The folders (parents first) and the files of the shell folders: (path, kind, size)."""
    folders = []
    for top, share in TOP_FOLDERS:
        tree = [(top, 1)]
        used = {top: set()}
        while len(tree) < max(3, int(count // 10 * share)):
            parent, depth = rng.choice(tree)
            if depth >= 8:
                continue
            path = parent + "/" + unique(rng, used[parent], lambda: folder_name(rng, depth, top))
            used[path] = set()
            tree.append((path, depth + 1))
        folders += [(path, depth, top, used[path]) for path, depth in tree]
    weights = [rng.lognormvariate(0, 1.2) * (1 + 0.4 * depth) for _, depth, _, _ in folders]
    files = []
    for path, _, top, used in rng.choices(folders, weights=weights, k=count):
        r = rng.random()
        binary = {"LocalAppData": 0.55, "Personal": 0.45}.get(top, 0.30)
        if r < binary:
            kind, ext, size = "binary", rng.choice(BINARY_EXTS), rng.lognormvariate(9.3, 1.9)
        elif r < binary + 0.06:
            kind, ext, size = "database", rng.choice(DATABASE_EXTS), rng.lognormvariate(10.5, 1.3)
        else:
            ext = rng.choice(list(TEXT_EXTS))
            kind, size = TEXT_EXTS[ext], rng.lognormvariate(8.0, 1.5)
        name = unique(rng, used, lambda: (
            rng.choice(NON_ASCII) if rng.random() < 0.03 else
            "%s_%d" % (rng.choice(WORDS).lower(), rng.randint(0, 9999)) if rng.random() < 0.6 else
            "%08x" % rng.getrandbits(32)) + ext)
        files.append([path + "/" + name, kind, 0 if rng.random() < 0.005 else size])
    # Bytes: 45% text, 45% random, 10% half-empty pages; no file above 48 MiB.
    for share, kinds in ((0.45, ("ini", "xml", "log")), (0.45, ("binary",)), (0.10, ("database",))):
        chosen = [f for f in files if f[1] in kinds]
        scale = share * total / max(1.0, sum(f[2] for f in chosen))
        for f in chosen:
            f[2] = min(48 * MIB, int(f[2] * scale))
    return [path for path, _, _, _ in folders], files


def file_blocks(rng, kind, size, pools):
    offset = int(rng.random() * 4 * MIB)
    while size > 0:
        n = min(size, MIB)
        if kind == "binary":
            yield rng.randbytes(n)
        elif kind == "database":
            yield b"".join(rng.randbytes(f) + bytes(4096 - f)
                           for f in (int(rng.random() * 4096) for _ in range(0, n, 4096)))[:n]
        else:
            pool = pools[kind]
            offset %= len(pool)
            n = min(n, len(pool) - offset)
            yield pool[offset:offset + n]
            offset += n
        size -= n


# Archive -----------------------------------------------------------------------------------------

def entry(rng, name, stored=False):
    info = zipfile.ZipInfo(name, date_time=(2023, rng.randint(1, 12), rng.randint(1, 28),
                                            rng.randint(0, 23), rng.randint(0, 59),
                                            2 * rng.randint(0, 29)))
    # Made on Unix, so that tools take the names as UTF-8 rather than as an OEM code page.
    info.create_system = 3
    folder = name.endswith("/")
    info.external_attr = ((0o40755 << 16) | 0x10) if folder else (0o100644 << 16) | 0x20
    info.compress_type = zipfile.ZIP_STORED if folder or stored else zipfile.ZIP_DEFLATED
    return info


def build(output, seed, scale, say):
    times = random.Random("%d:times" % seed)
    part = output + ".part"
    # Deflate level 6: zlib's default, which every entry gets.
    with zipfile.ZipFile(part, "w", zipfile.ZIP_DEFLATED, allowZip64=True, compresslevel=6) as zf:
        zf.writestr(entry(times, "Registry/"), b"")
        for i, (name, share) in enumerate((("HKCU_Software_Quenlar.reg", 0.5),
                                           ("HKCU_Software_Apps.reg", 0.3),
                                           ("HKCU_Software_Tools.reg", 0.2))):
            size = share * 60 * MB * scale
            with zf.open(entry(times, "Registry/" + name), "w", force_zip64=size > 1000 * MB) as out:
                write_reg(out, random.Random("%d:reg:%d" % (seed, i)), size, i == 0)
            say("Registry/%s" % name)
        rng = random.Random("%d:files" % seed)
        folders, files = plan_files(rng, max(8, int(20000 * scale)), int(400 * MB * scale))
        pools = {k: text_pool(random.Random("%d:%s" % (seed, k)), k) for k in ("ini", "xml", "log")}
        data = random.Random("%d:data" % seed)
        in_folder = {}
        for f in files:
            in_folder.setdefault(f[0].rsplit("/", 1)[0], []).append(f)
        for folder in folders:
            zf.writestr(entry(times, folder + "/"), b"")
            for path, kind, size in in_folder.get(folder, ()):
                info = entry(times, path, stored=kind == "binary")
                info.file_size = size
                with zf.open(info, "w", force_zip64=size > 1000 * MB) as out:
                    for block in file_blocks(data, kind, size, pools):
                        out.write(block)
        say("%d folders, %d files of %.0f MB" % (len(folders), len(files),
                                                 sum(f[2] for f in files) / MB))
    os.replace(part, output)
    say("%s: %.0f MB" % (output, os.path.getsize(output) / MB))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", required=True, help="the archive to write")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    parser.add_argument("--scale", type=float, default=1.0,
                        help="size factor of every part (default 1: about 270 MB of archive)")
    parser.add_argument("--reg-only", type=float, metavar="MB",
                        help="write one .reg file of about MB megabytes (10^6 bytes) instead")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress on stderr")
    args = parser.parse_args()
    if args.reg_only is None:
        build(args.output, args.seed, args.scale,
              (lambda _: None) if args.quiet else (lambda text: print(text, file=sys.stderr)))
        return
    with open(args.output + ".part", "wb") as out:
        write_reg(out, random.Random("%d:reg" % args.seed), args.reg_only * MB, True)
    os.replace(args.output + ".part", args.output)


if __name__ == "__main__":
    main()
