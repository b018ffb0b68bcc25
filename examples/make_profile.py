#!/usr/bin/env python3
"""Builds the example profile archive: the settings of "Quillmark Notes" by Larkspur Labs as a
user-profile archive captured them, before the application moved its settings."""

import argparse
import os
import subprocess
import tempfile
import zipfile

REG_HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"
MARKERS = "HKEY_CURRENT_USER\\Software\\Quenlar\\Orvex Zoravudi\\ImportMarkers"


def reg_file(sections):
    """A .reg file in UTF-16LE with a byte-order mark and CR LF line ends."""
    text = REG_HEADER
    for path, values in sections:
        text += "[" + path + "]\r\n"
        for line in values:
            text += line + "\r\n"
        text += "\r\n"
    return b"\xff\xfe" + text.encode("utf-16-le")


def hex_string(text):
    """REG_EXPAND_SZ data as a hex(2) byte list."""
    data = (text + "\0").encode("utf-16-le")
    return ",".join("%02x" % b for b in data)


USER_REG = reg_file([
    (MARKERS, ['"Pre"="1"']),
    ("HKEY_CURRENT_USER\\Software\\Larkspur\\Notes", [
        '"InstallDir"="C:\\\\Program Files\\\\Larkspur\\\\Notes"',
        '"LastFile"="Personal\\\\Notes\\\\todo.qmn"',
        '"Zoom"="125"',
        '"WordWrap"=dword:00000001',
    ]),
    ("HKEY_CURRENT_USER\\Software\\Larkspur\\Notes\\Window", [
        '"Left"=dword:00000064',
        '"Top"=dword:00000032',
        '"Placement"=hex:2c,00,00,00,02,00,00,00,03,00,00,00',
    ]),
    ("HKEY_CURRENT_USER\\Software\\Larkspur\\Notes\\Cache", [
        '"Path"=hex(2):' + hex_string("%TEMP%\\LarkspurNotes"),
    ]),
    ("HKEY_CURRENT_USER\\Control Panel\\Desktop", [
        '"Wallpaper"="Personal\\\\Quillmark\\\\background.jpg"',
    ]),
    (MARKERS, ['"Post"="1"']),
])

OTHER_REG = reg_file([
    (MARKERS, ['"Pre"="1"', '"Post"="1"']),
    ("HKEY_CURRENT_USER\\Software\\Larkspur\\Notes\\Plugins", ['"Spell"=dword:00000001']),
])


def wallpaper_jpeg(workdir):
    """A small gradient picture, encoded as JPEG by cjpeg."""
    width, height = 64, 48
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            pixels += bytes((x * 4, y * 5, 128))
    ppm = os.path.join(workdir, "wallpaper.ppm")
    with open(ppm, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height) + bytes(pixels))
    return subprocess.run(["cjpeg", "-quality", "90", ppm], check=True,
                          stdout=subprocess.PIPE).stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("archive", help="where to write the profile archive")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        jpeg = wallpaper_jpeg(workdir)
    entries = [
        ("Registry/", None),
        ("Registry/User.reg", USER_REG),
        ("Registry/Plugins.reg", OTHER_REG),
        ("AppData/Larkspur/Notes/settings.ini", b"[General]\r\nTheme=Dark\r\nAutosave=5\r\n"),
        ("AppData/Larkspur/Notes/templates/meeting.qmt", b"# Meeting\r\n- Attendees\r\n"),
        ("AppData/Larkspur/Notes/cache/index.tmp", b"\x00" * 512),
        ("AppData/Larkspur/Notes/cache/thumbs/", None),
        ("Personal/Notes/todo.qmn", "Buy milk\r\nShip release 2\r\n".encode("utf-8")),
        ("Personal/Quillmark/background.jpg", jpeg),
        ("Desktop/Old Notes.lnk", b"L\x00\x00\x00 obsolete shortcut"),
        ("Desktop/Report.txt", b"Quarterly report\r\n"),
    ]
    with zipfile.ZipFile(args.archive, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2026, 11, 30, 9, 15, 0))
            if data is None:
                info.external_attr = 0o40755 << 16 | 0x10
                archive.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, data)


if __name__ == "__main__":
    main()
