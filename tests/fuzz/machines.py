"""Random machines: for each seed a prior machine (tests/e2e/machine_generator.py), the real
setup (Uninstall.exe /setup /S with the machine's /init text) and the real uninstall (/S, the
batch file run by Wine's cmd.exe), then HKEY_CLASSES_ROOT (the integration's keys),
HKEY_CURRENT_USER\\Software, HKEY_LOCAL_MACHINE\\Software and the shell folders compared with
the machine before, allowing only the leftovers the generator names. Both runs must end with
exit code 0 and no diagnostic line, and the program folder must be gone.

    machines.py --exe build/win64/Uninstall.exe --build build/win64 [--count N] [--seed S]
                [--input I]

Machine i is made from (seed, i): --seed S --input I replays it. Prints one line per failure
(with its machine and the replay command) and the summary line last; exit code 1 on failure."""
import argparse
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
import harness  # noqa: E402
import machine_generator  # noqa: E402

LISTED = ("Bundlo.exe", "bdlext.dll", "bdlext64.dll", "Bundlo.chm", "Bdl.txt", "bdlnew.dat",
          "zipnew.dat", "Uninstall.exe")


def machine_state(prefix):
    """The areas the round trip compares, as test_roundtrip.py reads them."""
    return machine_generator.machine_state(prefix, harness)


def round_trip(prefix, program, machine, view):
    """Seeds the machine, runs the setup and the uninstall; returns the failures (lines)."""
    folder = harness.PROGRAM_FOLDER
    unix_folder = prefix.unix_path(folder)
    for name in ("Bundlo.exe", "bdlext.dll", "bdlext64.dll", "Bundlo.chm", "Bdl.txt"):
        with open(os.path.join(unix_folder, name), "w") as f:
            f.write("placeholder")
    listed = LISTED + (("Bundlo.ini",) if machine.has_settings_file() else ())
    with open(os.path.join(unix_folder, "Uninstall.lst"), "w") as f:
        f.write("".join(name + "\r\n" for name in listed))
    machine.seed_into(prefix, view, folder)
    before = machine_state(prefix)

    failures = []
    setup = prefix.run(program, ["/setup", "/S", "/init" + machine.init], timeout=180,
                       env=machine.setup_env(harness.DIAGNOSTICS))
    if (setup.code, setup.diagnostics) != (0, []):
        failures.append("setup: exit code %s, diagnostics %s" % (setup.code, setup.diagnostics))
    machine.before_removal(prefix, folder, machine_generator.other_build_exe(harness.BUILD))
    uninstall = prefix.run(program, ["/S"], timeout=180, env=harness.DIAGNOSTICS)
    if (uninstall.code, uninstall.diagnostics) != (0, []):
        failures.append("uninstall: exit code %s, diagnostics %s" % (uninstall.code,
                                                                    uninstall.diagnostics))
    start = time.monotonic()
    while os.path.exists(unix_folder) and time.monotonic() - start < 60:
        time.sleep(0.5)
    if os.path.exists(unix_folder):
        failures.append("the program folder is still there: %s" % sorted(os.listdir(unix_folder)))
    after = machine_state(prefix)
    failures += machine_generator.differences(machine.expected(before, after, view), after)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--count", type=int, default=8)
    parser.add_argument("--seed", type=int)
    parser.add_argument("--input", type=int)
    args = parser.parse_args()
    harness.EXE = os.path.abspath(args.exe)
    harness.BUILD = os.path.abspath(args.build)
    seed = args.seed if args.seed is not None else random.randrange(10 ** 9)
    indexes = [args.input] if args.input is not None else range(args.count)
    view = 64 if os.path.basename(harness.BUILD) == "win64" else 32

    started = time.monotonic()
    prefix = harness.Prefix()
    failed = 0
    # Wine creates even the dialogs that confirm themselves (/S) only with a display.
    with harness.Display(prefix):
        for index in indexes:
            machine = machine_generator.Machine(seed * 1000 + index)
            prefix.reset()
            program = prefix.install()
            try:
                failures = round_trip(prefix, program, machine, view)
            except Exception as error:  # a step that could not run is a failure too
                failures = ["%s: %s" % (type(error).__name__, error)]
            if failures:
                failed += 1
                print("FAIL machines seed %d input %d: %s" % (seed, index, failures[0]))
                for line in failures[1:]:
                    print("  also: " + line)
                print("  input: " + machine.describe())
                print("  replay: python3 tests/fuzz/machines.py --exe %s --build %s --seed %d "
                      "--input %d" % (args.exe, args.build, seed, index))
                sys.stdout.flush()
        prefix.reset()
    print("machines: %d inputs, %d failures, %.1f s (seed %d)" % (
        len(indexes), failed, time.monotonic() - started, seed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
