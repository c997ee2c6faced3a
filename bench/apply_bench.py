#!/usr/bin/env python3
"""Prints what registering the archiver costs under Wine, for each build:

- ApplyIntegration with every choice on, in-process (bench/apply_bench.exe, run from a program
  folder of the prefix): its time, the registry calls it makes and the values it writes, counted
  through the registry override table; and the RemoveRegistrations that undoes it between runs.
- A whole silent setup, Uninstall.exe /setup /S with every choice on (/init), against a start of
  the same program that does nothing (/set, a switch that selects nothing), both on a virtual
  display: Wine creates the setup's dialogs, which confirm themselves under /S, only with one.
  After each setup an unattended uninstall with an empty list takes the registrations and
  shortcuts away again, so that every run starts from the same machine.

Figures only; nothing here passes or fails on time. The prefix's registry is reset first and last."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

EVERYTHING = "/initA" + "1" * 18 + "S1C1I1D1M1P1"


def in_process(prefix, exe, folder, runs):
    tool = os.path.join(os.path.dirname(os.path.abspath(exe)), "bench", "apply_bench.exe")
    root = prefix.unix_path(folder)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    shutil.copy(tool, os.path.join(root, "apply_bench.exe"))
    result = prefix.run(folder + r"\apply_bench.exe", [str(runs)], timeout=1200)
    print(result.stdout.rstrip())
    shutil.rmtree(root, ignore_errors=True)
    if result.code != 0:
        sys.exit(f"{tool}: exit code {result.code}")


def whole_process(prefix, exe, folder, runs):
    root = prefix.unix_path(folder)
    idle, setup = [], []
    for run in range(runs):
        program = prefix.install(exe, folder)
        prefix.run(program, ["/set"])  # the image from disk, the desktop of the display
        done = prefix.run(program, ["/set"])
        if done.code != 0:
            sys.exit(f"{exe} /set: exit code {done.code}")
        idle.append(done.seconds)
        done = prefix.run(program, ["/setup", "/S", EVERYTHING], timeout=300)
        if done.code != 0:
            sys.exit(f"{exe} /setup /S: exit code {done.code}")
        setup.append(done.seconds)
        if run == 0 and prefix.reg_query(r"HKCR\Bundlo\shell\open\command", "") is None:
            sys.exit(f"{exe} /setup /S registered nothing")
        # The registrations and shortcuts go again, and the "New" menu templates that the
        # setup put into the program folder; the batch file then removes the folder.
        with open(os.path.join(root, "Uninstall.lst"), "wb") as f:
            f.write(b"bdlnew.dat\r\nzipnew.dat\r\n")
        if prefix.run(program, ["/S"], timeout=300).code != 0:
            sys.exit(f"{exe} /S: the uninstall that cleans up failed")
        deadline = time.monotonic() + 60
        while os.path.exists(root) and time.monotonic() < deadline:
            time.sleep(0.5)
        if os.path.exists(root):
            sys.exit(f"{exe}: the cleanup left {sorted(os.listdir(root))} in {folder}")
    return statistics.median(idle), statistics.median(setup), min(setup)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", action="append", required=True, help="Uninstall.exe to time")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    prefix = harness.Prefix()
    prefix.reset()
    for exe in args.exe:
        in_process(prefix, exe, r"C:\bdlbench" + ("32" if "win32" in exe else "64") + r"\Bundlo",
                   args.runs)
    prefix.reset()
    print(f"silent setup with every choice on ({EVERYTHING}) against a start that does nothing "
          f"(/set), whole processes on a virtual display, warm wineserver, median of {args.runs}")
    with harness.Display(prefix):
        for exe in args.exe:
            folder = r"C:\bdlbench" + ("32" if "win32" in exe else "64") + r"\Bundlo"
            idle, setup, fastest = whole_process(prefix, exe, folder, args.runs)
            print(f"{os.path.relpath(exe):28} /set {idle * 1000:7.0f} ms  /setup /S "
                  f"{setup * 1000:7.0f} ms (fastest {fastest * 1000:.0f})  the setup's own work "
                  f"{(setup - idle) * 1000:7.0f} ms")
    prefix.reset()
    subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())


if __name__ == "__main__":
    main()
