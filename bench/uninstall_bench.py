#!/usr/bin/env python3
"""Prints what a silent uninstall of a large installation costs under Wine: 10,000 files in 100
folders (10 branches, each a chain of 10 nested folders), once listed in the worst order (every
folder before its contents, the deepest last) and once in the installer's order (each folder's
files, then the folder, the deepest first). Figures only; nothing here passes or fails.

The wall time runs from the start of Uninstall.exe /S to its end; the batch file's deletion of
the program and its folder afterwards is not part of it. The program reports no pass count, so
the passes are computed from the list order by the same rule: a reading that deletes something is
followed by another."""
import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

BRANCHES, DEPTH, FILES_PER_FOLDER = 10, 10, 100


def layout():
    """The folders (parents before children) and the files of each, as relative paths."""
    folders = []
    for branch in range(BRANCHES):
        path = f"b{branch}"
        for level in range(DEPTH):
            folders.append(path)
            path += f"\\l{level + 1}"
    files = {folder: [f"{folder}\\f{n:03}.dat" for n in range(FILES_PER_FOLDER)]
             for folder in folders}
    return folders, files


def worst_order(folders, files):
    by_depth = sorted(folders, key=lambda f: f.count("\\"))
    return by_depth + [name for folder in folders for name in files[folder]]


def installer_order(folders, files):
    deepest_first = sorted(folders, key=lambda f: -f.count("\\"))
    return [entry for folder in deepest_first for entry in files[folder] + [folder]]


def passes(order, folders):
    """Readings of the list until one deletes nothing."""
    present = set(order)
    parent = {e: e.rsplit("\\", 1)[0] if "\\" in e else "" for e in order}
    children = {folder: {e for e in order if parent[e] == folder} for folder in folders}
    count = 0
    while True:
        count += 1
        deleted = 0
        for entry in order:
            if entry in present and not (children.get(entry, set()) & present):
                present.discard(entry)
                deleted += 1
        if deleted == 0:
            return count


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", action="append", required=True, help="Uninstall.exe to time")
    args = parser.parse_args()
    prefix = harness.Prefix()
    prefix.reset()
    folders, files = layout()
    count = sum(len(names) for names in files.values())
    orders = {"worst": worst_order(folders, files), "installer": installer_order(folders, files)}
    computed = {name: passes(order, folders) for name, order in orders.items()}
    print(f"silent uninstall of {count} files in {len(folders)} folders, warm wineserver; "
          "passes computed from the list order")
    for exe in args.exe:
        folder = r"C:\bdlbench" + ("32" if "win32" in exe else "64") + r"\Bundlo"
        for name, order in orders.items():
            root = prefix.unix_path(folder)
            shutil.rmtree(root, ignore_errors=True)
            program = prefix.install(exe, folder)
            for relative in folders:
                os.makedirs(os.path.join(root, *relative.split("\\")), exist_ok=True)
            for names in files.values():
                for relative in names:
                    with open(os.path.join(root, *relative.split("\\")), "wb") as f:
                        f.write(b"x")
            with open(os.path.join(root, "Uninstall.lst"), "wb") as f:
                f.write("".join(entry + "\r\n" for entry in order).encode("ascii"))
            result = prefix.run(program, ["/S"], timeout=3600)
            if result.code != 0:
                sys.exit(f"{exe}: exit code {result.code}")
            deadline = time.monotonic() + 120
            while os.path.exists(root) and time.monotonic() < deadline:
                time.sleep(0.5)  # the batch file removes the program and the folder
            left = "" if not os.path.exists(root) else "  (folder still there)"
            print(f"{os.path.relpath(exe):28} {name:9} order  {result.seconds:7.1f} s  "
                  f"{count / result.seconds:8.0f} files/s  {computed[name]:3} passes{left}")
    subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())


if __name__ == "__main__":
    main()
