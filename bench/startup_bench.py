#!/usr/bin/env python3
"""Prints the wall time of starting Uninstall.exe under Wine for a run that does nothing (/set),
so later changes can see what start-up costs. Figures only; nothing here passes or fails."""
import argparse
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", action="append", required=True, help="Uninstall.exe to time")
    parser.add_argument("--runs", type=int, default=10)
    args = parser.parse_args()
    prefix = harness.Prefix()
    prefix.reset()  # one warm wineserver with its services, as in a test run
    print(f"start-up of a no-op run (/set), {args.runs} runs each, warm wineserver")
    for exe in args.exe:
        folder = r"C:\bdlbench" + ("32" if "win32" in exe else "64")
        program = prefix.install(exe, folder)
        prefix.run(program, ["/set"])  # first run pays for loading the image from disk
        times = []
        for _ in range(args.runs):
            result = prefix.run(program, ["/set"])
            if result.code != 0:
                sys.exit(f"{exe}: exit code {result.code}")
            times.append(result.seconds * 1000)
        print(f"{os.path.relpath(exe):28} min {min(times):7.1f} ms  median "
              f"{statistics.median(times):7.1f} ms  max {max(times):7.1f} ms")
    subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())


if __name__ == "__main__":
    main()
