#!/usr/bin/env python3
"""`make screenshots [LNG=path/to/uninstall.lng]`: renders the setup's dialogs with their real
procedures under a virtual display, at 96 and 144 DPI, into PNG files under build/screenshots/
(the context items dialog in its normal and its Windows 11 top-level mode). With a language file
the dialogs show its texts, SIZE corrections and reading direction."""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ["BDL_WINEPREFIX"] = os.path.join(ROOT, "build", "screenshot-prefix")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402


def bmp_to_png(bmp_path, png_path):
    with open(bmp_path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        raise ValueError(f"{bmp_path}: {bits} bits per pixel")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        source = height - 1 - y if height > 0 else y
        row = data[offset + source * stride: offset + source * stride + width * 3]
        # BMP stores blue, green, red; PNG wants red, green, blue.
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
        rows.append(b"\x00" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    with open(png_path, "wb") as f:
        f.write(png)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lng", help="a language file to render the dialogs with")
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "win64", "gui",
                                                      "screenshots.exe"))
    args = parser.parse_args()
    prefix = harness.Prefix()
    label = os.path.splitext(os.path.basename(args.lng))[0] if args.lng else "english"
    for dpi in (96, 144):
        prefix.reset()
        done = prefix.run("reg", ["add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                                  "REG_DWORD", "/d", str(dpi), "/f"])
        if done.code != 0:
            sys.exit("cannot set the DPI: " + done.stderr)
        # Without a window manager on the virtual display, Wine draws the caption and frame
        # itself only for windows it does not hand to one.
        prefix.run("reg", ["add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N",
                           "/f"])
        shots = r"C:\bdlshots"
        os.makedirs(prefix.unix_path(shots), exist_ok=True)
        command = [shots]
        if args.lng:
            shutil.copy(args.lng, prefix.unix_path(shots + r"\uninstall.lng"))
            command.append(shots + r"\uninstall.lng")
        with harness.Display(prefix):
            result = prefix.run(args.exe, command, timeout=120)
        if result.code != 0:
            sys.exit(f"rendering failed at {dpi} DPI: {result.stdout}{result.stderr}")
        target = os.path.join(ROOT, "build", "screenshots", f"{label}-{dpi}dpi")
        os.makedirs(target, exist_ok=True)
        for name in sorted(os.listdir(prefix.unix_path(shots))):
            if name.endswith(".bmp"):
                png = os.path.join(target, name[:-4] + ".png")
                bmp_to_png(os.path.join(prefix.unix_path(shots), name), png)
                print(os.path.relpath(png, ROOT))
        shutil.rmtree(prefix.unix_path(shots))
    subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())


if __name__ == "__main__":
    main()
