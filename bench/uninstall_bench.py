#!/usr/bin/env python3
"""Prints what a silent uninstall of a large installation costs under Wine, against its limit:
10,000 files in 100 folders (10 branches, each a chain of 10 nested folders), listed in three
orders: the installer's (each folder's files, then the folder, the deepest first), the worst
(every folder before its contents, the deepest last) and a shuffled one (a fixed seed).

For each order, the same tree and list are removed twice: once by Uninstall.exe /S, and once by
the limit, bench/plain_delete.exe of the same build: one DeleteFileW or RemoveDirectoryW per
listed entry, read again while a reading removes something, nothing else. Both are whole Wine
processes timed from start to end, so both pay for a process start; the uninstall also removes
its registrations. The ratio uninstall/limit is printed per order, from the medians of --runs
runs. Figures only; nothing here passes or fails on time.

Both sides also run with nothing listed, as often per build: what that costs (the process start,
for the uninstall also its own start-up, the registrations and the batch file) is printed, and
each ratio is printed again without it, the ratio of the deletions alone.

Each run's results are checked all the same: the uninstall must leave nothing listed behind
(only the program, for its batch file) in every order, and the batch file must then remove the
program and its folder. The program reports no pass count, so its passes are computed from the
list order by the same rule: a reading that deletes something is followed by another."""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

BRANCHES, DEPTH, FILES_PER_FOLDER = 10, 10, 100
SHUFFLE_SEED = 18


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


def installer_order(folders, files):
    deepest_first = sorted(folders, key=lambda f: -f.count("\\"))
    return [entry for folder in deepest_first for entry in files[folder] + [folder]]


def worst_order(folders, files):
    by_depth = sorted(folders, key=lambda f: f.count("\\"))
    return by_depth + [name for folder in folders for name in files[folder]]


def shuffled_order(folders, files):
    order = folders + [name for folder in folders for name in files[folder]]
    random.Random(SHUFFLE_SEED).shuffle(order)
    return order


def passes(order, folders):
    """Readings of the list until one deletes nothing."""
    present = set(order)
    parent = {e: e.rsplit("\\", 1)[0] if "\\" in e else "" for e in order}
    children = {folder: set() for folder in folders}
    for entry in order:
        if parent[entry] in children:
            children[parent[entry]].add(entry)
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


class Bench:
    def __init__(self, prefix, folders, files):
        self.prefix, self.folders, self.files = prefix, folders, files

    def lay_out(self, root):
        for relative in self.folders:
            os.makedirs(os.path.join(root, *relative.split("\\")), exist_ok=True)
        for names in self.files.values():
            for relative in names:
                with open(os.path.join(root, *relative.split("\\")), "wb") as f:
                    f.write(b"x")

    def uninstall(self, exe, folder, order):
        """Seconds of Uninstall.exe /S over the tree; exits on a wrong result."""
        root = self.prefix.unix_path(folder)
        shutil.rmtree(root, ignore_errors=True)
        program = self.prefix.install(exe, folder)
        if order:
            self.lay_out(root)
        with open(os.path.join(root, "Uninstall.lst"), "wb") as f:
            f.write("".join(entry + "\r\n" for entry in order).encode("ascii"))
        result = self.prefix.run(program, ["/S"], timeout=3600)
        if result.code != 0:
            sys.exit(f"{exe}: exit code {result.code}")
        # The batch file waits for the program's end before it deletes the program and the
        # folder, so the program is still there now, and it alone.
        left = sorted(os.listdir(root)) if os.path.exists(root) else []
        if left != ["Uninstall.exe"]:
            sys.exit(f"{exe}: the uninstall left {left[:5]} ({len(left)} names) in {folder}")
        deadline = time.monotonic() + 120
        while os.path.exists(root) and time.monotonic() < deadline:
            time.sleep(0.5)
        if os.path.exists(root):
            sys.exit(f"{exe}: the batch file did not remove {folder}")
        return result.seconds

    def plain(self, tool, folder, order):
        """Seconds and readings of the plain loop over the same tree and list."""
        root = self.prefix.unix_path(folder)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        if order:
            self.lay_out(root)
        kinds = set(self.folders)
        listing = folder + r"\plain.lst"
        with open(self.prefix.unix_path(listing), "wb") as f:
            f.write("".join(entry + ("\\" if entry in kinds else "") + "\r\n"
                            for entry in order).encode("ascii"))
        result = self.prefix.run(tool, [folder, listing], timeout=3600)
        left = sorted(os.listdir(root))
        if result.code != 0 or left != ["plain.lst"]:
            sys.exit(f"{tool}: exit code {result.code}, left {left[:5]}: {result.stdout}")
        shutil.rmtree(root)
        return result.seconds, int(result.stdout.split()[0])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", action="append", required=True, help="Uninstall.exe to time")
    parser.add_argument("--runs", type=int, default=5, help="runs of each side per order")
    parser.add_argument("--order", action="append", choices=["installer", "worst", "shuffled"],
                        help="only these list orders (default: all three)")
    args = parser.parse_args()
    prefix = harness.Prefix()
    prefix.reset()
    folders, files = layout()
    count = sum(len(names) for names in files.values())
    orders = {"installer": installer_order(folders, files), "worst": worst_order(folders, files),
              "shuffled": shuffled_order(folders, files)}
    orders = {name: order for name, order in orders.items() if name in (args.order or orders)}
    computed = {name: passes(order, folders) for name, order in orders.items()}
    bench = Bench(prefix, folders, files)
    print(f"silent uninstall of {count} files in {len(folders)} folders against the plain loop "
          f"(one DeleteFileW or RemoveDirectoryW per listed entry), warm wineserver, median of "
          f"{args.runs} runs; the uninstall's passes computed from the list order")
    for exe in args.exe:
        tag = "32" if "win32" in exe else "64"
        tool_path = os.path.join(os.path.dirname(os.path.abspath(exe)), "bench",
                                 "plain_delete.exe")
        tools = r"C:\bdlbench" + tag + "tools"
        os.makedirs(prefix.unix_path(tools), exist_ok=True)
        tool = tools + r"\plain_delete.exe"
        shutil.copy(tool_path, prefix.unix_path(tool))
        folder = r"C:\bdlbench" + tag + r"\Bundlo"
        # What both pay whatever the list holds: the process, and for the uninstall its start-up,
        # the registrations and the batch file.
        fixed_uninstall, fixed_plain = [], []
        for _ in range(args.runs):
            fixed_uninstall.append(bench.uninstall(exe, folder, []))
            fixed_plain.append(bench.plain(tool, folder, [])[0])
        fixed_uninstall = statistics.median(fixed_uninstall)
        fixed_plain = statistics.median(fixed_plain)
        print(f"{os.path.relpath(exe):28} nothing listed   uninstall {fixed_uninstall:6.2f} s  "
              f"plain loop {fixed_plain:6.2f} s  (start-up, registrations, batch file)")
        for name, order in orders.items():
            uninstall_times, plain_times = [], []
            for _ in range(args.runs):
                # Side by side, so that a slow moment of the machine falls on both alike.
                uninstall_times.append(bench.uninstall(exe, folder, order))
                seconds, readings = bench.plain(tool, folder, order)
                plain_times.append(seconds)
                if readings != computed[name]:
                    sys.exit(f"{tool}: {readings} readings, {computed[name]} expected")
            uninstall, plain = statistics.median(uninstall_times), statistics.median(plain_times)
            beyond = (uninstall - fixed_uninstall) / max(plain - fixed_plain, 0.001)
            print(f"{os.path.relpath(exe):28} {name:9} order  uninstall {uninstall:6.2f} s  "
                  f"plain loop {plain:6.2f} s  ratio {uninstall / plain:5.2f}  "
                  f"{computed[name]:3} passes  (without what nothing listed costs: "
                  f"{beyond:.2f})")
        shutil.rmtree(prefix.unix_path(tools), ignore_errors=True)
    subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())


if __name__ == "__main__":
    main()
