#!/usr/bin/env python3
"""The translators' kit, run under Wine in a prefix of its own (build/screenshot-prefix):
  lngkit.py screenshots [--lng path]  `make screenshots [LNG=...]`: the setup's dialogs with their
                                      real procedures at 96, 120, 144 and 192 DPI, as PNG files
                                      under build/screenshots/, with a translation's texts,
                                      SIZE corrections and reading direction when one is given
  lngkit.py check --lng path          `make check-lng LNG=...`: the checker's report on a
                                      translation; exits 1 when it found errors
  lngkit.py reference                 `make lng-reference`: writes docs/uninstall.lng anew from
                                      the program's resources and key table
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REFERENCE = os.path.join(ROOT, "docs", "uninstall.lng")
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


def screenshots(prefix, kit, lng):
    # Without a window manager on the virtual display, Wine draws the caption and frame itself
    # only for windows it does not hand to one.
    prefix.run("reg", ["add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"])
    shots = r"C:\bdlshots"
    shutil.rmtree(prefix.unix_path(shots), ignore_errors=True)
    os.makedirs(prefix.unix_path(shots))
    # Room for a widened dialog at 192 DPI: what lies beyond the screen cannot be copied.
    with harness.Display(prefix, size="3840x2400"):
        result = prefix.run(kit, ["screenshots", shots] + ([prefix.windows_path(lng)] if lng else []),
                            timeout=300)
    if result.code != 0:
        sys.exit("rendering failed: " + result.stdout + result.stderr)
    label = os.path.splitext(os.path.basename(lng))[0] if lng else "english"
    for dpi in ("96", "120", "144", "192"):
        target = os.path.join(ROOT, "build", "screenshots", f"{label}-{dpi}dpi")
        os.makedirs(target, exist_ok=True)
        folder = prefix.unix_path(shots + "\\" + dpi)
        for name in sorted(os.listdir(folder)):
            if name.endswith(".bmp"):
                png = os.path.join(target, name[:-4] + ".png")
                bmp_to_png(os.path.join(folder, name), png)
                print(os.path.relpath(png, ROOT))
    shutil.rmtree(prefix.unix_path(shots))
    return 0


def check(prefix, kit, lng):
    with harness.Display(prefix):
        result = prefix.run(kit, ["check", prefix.windows_path(lng), lng], timeout=300)
    sys.stdout.write(result.stdout)
    sys.stderr.write(result.stderr)
    return result.code


def reference(prefix, kit):
    result = prefix.run(kit, ["reference", prefix.windows_path(REFERENCE)])
    sys.stdout.write(result.stdout)
    if result.code == 0:
        print(os.path.relpath(REFERENCE, ROOT))
    return result.code


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=("screenshots", "check", "reference"))
    parser.add_argument("--lng", help="a language file")
    parser.add_argument("--exe", default=os.path.join(ROOT, "build", "win64", "tools", "lngkit.exe"))
    args = parser.parse_args()
    if args.mode == "check" and not args.lng:
        sys.exit("make check-lng LNG=path/to/uninstall.lng")
    if args.lng and not os.path.isfile(args.lng):
        sys.exit(f"{args.lng}: no such file")
    os.environ["BDL_WINEPREFIX"] = os.path.join(ROOT, "build", "screenshot-prefix")
    prefix = harness.Prefix()
    if args.mode == "screenshots":
        prefix.reset()
    try:
        if args.mode == "screenshots":
            code = screenshots(prefix, args.exe, args.lng)
        elif args.mode == "check":
            code = check(prefix, args.exe, args.lng)
        else:
            code = reference(prefix, args.exe)
    finally:
        subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())
    sys.exit(code)


if __name__ == "__main__":
    main()
