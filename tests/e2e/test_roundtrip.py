"""The program's main promise: the machine goes back to what it was. Prior states such as other
programs leave them are seeded; then every archive type is associated and released
(AssociationRoundTrip), or the real setup and the real uninstall run on a machine of the
generator (WholeRoundTrip, machine_generator.py with a fixed seed); the registry and the shell
folders must then equal what was seeded, except for the leftovers each test names. The same setup
and removal killed hard at each step line of their logs and run again must end where an uncut run
ends (HardKillAtEveryStep)."""
import glob
import os
import re
import shutil
import time

import harness
import machine_generator

# Extension key -> (value name -> data) as seeded; "<key>" stands for a key without values.
SEED = r"""
[HKEY_CLASSES_ROOT\.zip]
@="CompressedFolder"
[HKEY_CLASSES_ROOT\.zip\ShellNew]
"NullFile"=""
[HKEY_CLASSES_ROOT\.bdl]
@="OldBdl.Archive"
[HKEY_CLASSES_ROOT\.bdl\ShellNew]
"FileName"="C:\\old\\empty.bdl"
[HKEY_CLASSES_ROOT\.7z]
@="Other.7z"
"PerceivedType"="compressed"
[HKEY_CLASSES_ROOT\.arj]
@="Other.arj"
[HKEY_CLASSES_ROOT\.arj\OpenWithProgids]
"Other.arj"=""
[HKEY_CLASSES_ROOT\.jar]
@="jarfile"
"Content Type"="application/java-archive"
[HKEY_CLASSES_ROOT\.iso]
@="Windows.IsoFile"
[HKEY_CLASSES_ROOT\.xz]
@="XzFile"
[HKEY_CLASSES_ROOT\.xz\ShellNew]
"NullFile"=""
[HKEY_CLASSES_ROOT\.lzh\OpenWithList\other.exe]
[HKEY_CLASSES_ROOT\.tgz]
@="Bundlo"
[HKEY_CLASSES_ROOT\.b05]
@="Backup.Volume"
[HKEY_CURRENT_USER\Software\Bundlo\Setup\.tgz]
"Exist"=dword:00000001
"Type"="bundlo.ZIP"
"""

# What may differ after the round trip, each for a reason the program stands by.
ALLOWED_CHANGES = {
    # The old volume extensions take the class ".bdl" had before, as an older version of the
    # archiver left them; the one another program owned is untouched.
    **{".b%02d" % n: {"": '"OldBdl.Archive"'} for n in range(30) if n != 5},
    # A key that had no default value keeps an empty one.
    ".lzh": {"": '""'},
    # ".tgz" belonged to an earlier installation of the archiver itself, whose saved previous
    # owner was the archiver too: it is given back without a class.
    ".tgz": {"": '""'},
}


class AssociationRoundTrip(harness.ProgramTest):
    def test_associate_all_then_release_all_gives_every_extension_back(self):
        driver = os.path.join(harness.BUILD, "tools", "integration_driver.exe")
        self.prefix.reg_import(SEED)
        before = self.prefix.classes_snapshot()
        self.assertEqual('"CompressedFolder"', before[".zip"][""])

        for on in ("1", "1", "0"):
            result = self.prefix.run(driver, ["associate-all", on], timeout=120)
            self.assertEqual(0, result.code, result.stdout + result.stderr)
            if on == "1":
                taken = self.prefix.reg_query(r"HKCR\.zip", "")
                self.assertEqual("Bundlo.ZIP", taken)
        after = self.prefix.classes_snapshot()

        expected = {key: dict(values) for key, values in before.items()}
        for key, values in ALLOWED_CHANGES.items():
            expected.setdefault(key, {}).update(values)
        self.assertEqual(sorted(expected), sorted(after), "keys differ")
        for key in sorted(expected):
            self.assertEqual(expected[key], after[key], key)


CLSID32 = "{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F01}"
CLSID64 = "{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F02}"
# The machine of the whole round trip: the one this scenario has always checked (other programs'
# owners and "New" entries, an earlier uninstall entry, the user's desktop shortcut, deep keys
# where whole trees are deleted) with a generated part on top, from this seed. `make fuzz` runs
# the same round trip on machines of random seeds (tests/fuzz/machines.py).
MACHINE_SEED = 258


def install_program_folder(prefix, machine, exe=None, folder=harness.PROGRAM_FOLDER):
    """The program folder as the installer unpacks it, with its list; the program's path."""
    program = prefix.install(exe, folder)
    folder = prefix.unix_path(folder)
    for name in ("Bundlo.exe", "bdlext.dll", "bdlext64.dll", "Bundlo.chm", "Bdl.txt"):
        with open(os.path.join(folder, name), "w") as f:
            f.write("placeholder")
    with open(os.path.join(folder, "Uninstall.lst"), "w") as f:
        f.write("Bundlo.exe\r\nbdlext.dll\r\nbdlext64.dll\r\nBundlo.chm\r\nBdl.txt\r\n"
                "bdlnew.dat\r\nzipnew.dat\r\nUninstall.exe\r\n" +
                ("Bundlo.ini\r\n" if machine and machine.has_settings_file() else ""))
    return program


# How fleets run it, each on the same machine: another account removes it, the vendor's file
# beside the installer says Integration=1 or 0, the other build removes it.
FLEET = [{}, {"other_account": True}, {"vendor": "1"}, {"vendor": "0"}, {"switch_build": True}]


class WholeRoundTrip(harness.ProgramTest):
    def test_real_setup_then_real_uninstall_leaves_the_machine_as_before(self):
        for fleet in FLEET:
            with self.subTest(**fleet):
                if fleet:
                    self.prefix.reset()
                self.round_trip(machine_generator.Machine(MACHINE_SEED, base=True, **fleet))

    def round_trip(self, machine):
        # The earlier uninstall entry sits in the registry view of the program under test.
        view = 64 if os.path.basename(harness.BUILD) == "win64" else 32
        self.program = install_program_folder(self.prefix, machine)
        folder = self.prefix.unix_path(harness.PROGRAM_FOLDER)
        machine.seed_into(self.prefix, view, harness.PROGRAM_FOLDER)
        before = machine_generator.machine_state(self.prefix, harness)

        # Wine creates even the dialogs that confirm themselves (/S) only with a display.
        with harness.Display(self.prefix):
            setup = self.prefix.run(self.program, ["/setup", "/S", "/init" + machine.init],
                                    timeout=180, env=machine.setup_env(harness.DIAGNOSTICS))
            self.assertEqual((0, []), (setup.code, setup.diagnostics))
            if machine.vendor == "0":
                self.assertEqual("CompressedFolder", self.prefix.reg_query(r"HKCR\.zip", ""))
            else:
                self.check_registered()
            machine.before_removal(self.prefix, harness.PROGRAM_FOLDER,
                                   machine_generator.other_build_exe(harness.BUILD))
            uninstall = self.prefix.run(self.program, ["/S"], timeout=180,
                                        env=harness.DIAGNOSTICS)
            self.assertEqual((0, []), (uninstall.code, uninstall.diagnostics))
            start = time.monotonic()
            while os.path.exists(folder) and time.monotonic() - start < 60:
                time.sleep(0.5)
        self.assertFalse(os.path.exists(folder), "the program folder is still there")
        after = machine_generator.machine_state(self.prefix, harness)
        # The leftovers and removals the program stands by are named in machine.expected.
        machine_generator.compare(self, machine.expected(before, after, view), after)

    def check_registered(self):
        self.assertEqual("Bundlo.ZIP", self.prefix.reg_query(r"HKCR\.zip", ""))
        # Whichever build runs, each extension's server sits in the view of its own bitness.
        for clsid, dll, bits in ((CLSID32, "bdlext.dll", 32), (CLSID64, "bdlext64.dll", 64)):
            server = self.prefix.reg_query(rf"HKCR\CLSID\{clsid}\InProcServer32", "", bits)
            self.assertEqual(harness.PROGRAM_FOLDER + "\\" + dll, server, bits)


# Where a vendor keeps each build. Moving from one to the other, the new copy is set up in its
# folder, then the old copy is removed.
BUILD_FOLDERS = {32: r"C:\Program Files (x86)\Bundlo", 64: r"C:\Program Files\Bundlo"}


class BuildMove(harness.ProgramTest):
    def test_the_old_copys_removal_takes_its_own_entries_and_leaves_the_new_one_whole(self):
        builds = os.path.dirname(harness.BUILD)
        exes = {bits: os.path.join(builds, "win%d" % bits, "Uninstall.exe") for bits in (32, 64)}
        for old, new in ((32, 64), (64, 32)):
            with self.subTest(old=old, new=new):
                for attempt in range(3):
                    try:
                        self.move(exes, old, new)
                        break
                    except harness.StartHang:
                        if attempt == 2:  # Wine left a process in its start-up each time
                            raise

    def move(self, exes, old, new):
        """Sets up both builds in their folders, then removes the old copy and the new one."""
        self.prefix.reset()
        # The Default Programs list's key, which every Windows has and the prefix lacks.
        for view in (32, 64):
            self.prefix.reg_import(r"[HKEY_LOCAL_MACHINE\Software\RegisteredApplications]"
                                   "\n", view)
        before = machine_generator.machine_state(self.prefix, harness)
        with harness.Display(self.prefix):
            for bits in (old, new):
                program = install_program_folder(self.prefix, None, exes[bits],
                                                 BUILD_FOLDERS[bits])
                setup = self.prefix.run(program, ["/setup", "/S", "/initD1M1P1"],
                                        timeout=180)
                self.assertEqual(0, setup.code)
            expected = machine_generator.machine_state(self.prefix, harness)
            # The old copy's own: its uninstall entry and "exe32" in its build's view,
            # with the product key there when that was all it held.
            view = "wow6432node\\" if old == 32 else ""
            machine = expected[r"HKLM\Software"]
            del machine[view + machine_generator.UNINSTALL_ENTRY]
            del machine[view + "bundlo"]["exe32"]
            if not machine[view + "bundlo"] and not any(
                    key.startswith(view + "bundlo\\") for key in machine):
                del machine[view + "bundlo"]
            for bits, state in ((old, expected), (new, before)):
                folder = BUILD_FOLDERS[bits]
                self.assertEqual(0, self.prefix.run(folder + r"\Uninstall.exe", ["/S"],
                                                    timeout=180).code)
                self.prefix.settle()
                self.assertFalse(os.path.exists(self.prefix.unix_path(folder)))
                machine_generator.compare(
                    self, state, machine_generator.machine_state(self.prefix, harness))


# A step line of the log in any flow ("Setup step: ...", "Removal step: ..."), after the time
# that LogLine puts first: a step added later is cut as well.
STEP_LINE = re.compile(r"^\d\d:\d\d:\d\d \w+ step: .*?\r?$", re.M)
CUT_LOG = r"C:\bdl_cut\run.log"
# Elevated, the removal's batch file has its folder here.
SYSTEM_TEMP = r"C:\windows\temp"


def step_name(line):
    """A step line without what differs between runs: counts, a batch folder's random name."""
    return re.sub(r"\w*\d\w*", "#", line)


class HardKillAtEveryStep(harness.ProgramTest):
    """A deployment tool's time limit or a power cut ends the program at any instruction; the
    same command run again must leave the machine as a run that was never cut. The real setup,
    then the real removal (with cmd.exe running its batch file), each killed hard as soon as
    its n-th step line is in its log, for every n that an uncut run logs, and run again."""

    def test_a_run_killed_at_any_step_then_run_again_ends_as_an_uncut_run(self):
        machine = machine_generator.Machine(MACHINE_SEED, base=True)
        program = install_program_folder(self.prefix, machine)
        view = 64 if os.path.basename(harness.BUILD) == "win64" else 32
        machine.seed_into(self.prefix, view, harness.PROGRAM_FOLDER)
        os.makedirs(os.path.dirname(self.prefix.unix_path(CUT_LOG)), exist_ok=True)
        user = os.environ.get("USER", "root")
        folders = [harness.PROGRAM_FOLDER, SYSTEM_TEMP] + \
            [folder.format(user=user) for folder in machine_generator.SHELL_FOLDERS]
        flows = []
        # Wine creates even the dialogs that confirm themselves (/S) only with a display.
        with harness.Display(self.prefix):
            # The removal starts where the uncut setup ended.
            for name, args in (("setup", ["/setup", "/S", "/init" + machine.init]),
                               ("removal", ["/S"])):
                start = self.prefix.save_state(folders)
                self.addCleanup(shutil.rmtree, start[0])
                code, end = self.from_start(start, lambda: self.uncut(program, args))
                steps = [line[9:] for line in STEP_LINE.findall(self.log_text())]
                self.assertTrue(steps, name)
                flows.append((name, args, start, code, steps, end))
            for name, args, start, code, steps, end in flows:
                for n, step in enumerate(steps, 1):
                    with self.subTest(flow=name, cut=n, step=step):
                        # A kill that landed past the next step line cut that step, not this.
                        for attempt in range(5):
                            logged, again, now = self.from_start(
                                start, lambda: self.cut_and_run_again(program, args, n, code))
                            if len(logged) == 1:
                                break
                        self.assertEqual(step_name(step), step_name(logged[0]))
                        if len(logged) > 1:
                            self.skipTest("each kill landed past the next step line")
                        self.assertEqual((code, []), (again, self.differences(end, now)))

    def from_start(self, start, run):
        """run() from the saved start; once more when Wine left a process hanging."""
        for attempt in range(3):
            self.prefix.restore_state(start)
            try:
                return run()
            except harness.StartHang:
                if attempt == 2:
                    raise

    def uncut(self, program, args):
        """The exit code and the state a run to its end leaves."""
        self.remove_log()
        return self.run_to_end(program, args), self.state()

    def cut_and_run_again(self, program, args, n, code):
        """The step lines from the n-th on of a run killed at its n-th, and the exit code and
        state of the same command run again."""
        logged = self.cut_at_step(program, args, n)
        # Cut after the batch file took over, the program is gone with its folder: there is
        # nothing left to run again.
        again = self.run_to_end(program, args) \
            if os.path.exists(self.prefix.unix_path(program)) else code
        return logged, again, self.state()

    def remove_log(self):
        log = self.prefix.unix_path(CUT_LOG)
        if os.path.exists(log):
            os.remove(log)
        return log

    def log_text(self):
        with open(self.prefix.unix_path(CUT_LOG), encoding="utf-8-sig", errors="replace") as f:
            return f.read()

    def run_to_end(self, program, args):
        """The exit code of a run to its end (and of what it left running); a run again goes on
        with the log of the run it repeats, as the same command does."""
        code = self.prefix.run(program, args + ["/log=" + CUT_LOG], timeout=180).code
        self.prefix.settle()
        return code

    def cut_at_step(self, program, args, n):
        """Starts the command and kills it hard once its log holds n step lines; the step lines
        from the n-th on. The log is polled: the kill lands a little after the line was written,
        and a few instructions of the next step may have run by then."""
        log = self.remove_log()
        # At the lowest priority the program yields to this watcher when the machine is busy,
        # so that the kill does not land far into the next step.
        process = self.prefix.start(program, args + ["/log=" + CUT_LOG], nice=19)
        pid = None
        while True:
            if pid is None:
                pid = next((p for p, arguments in self.prefix.processes("Uninstall.exe").items()
                            if "/log=" + CUT_LOG in arguments), None)
            if os.path.exists(log) and len(STEP_LINE.findall(self.log_text())) >= n:
                break
            self.assertIsNone(process.poll(), "the run ended before its step %d" % n)
            time.sleep(0.001)
        self.assertIsNotNone(pid, "the run's process was not found")
        self.prefix.kill_hard(pid)
        process.wait(timeout=60)
        # The killed process is gone from wineserver's list; what it left running has ended.
        self.prefix.settle()
        return [line[9:] for line in STEP_LINE.findall(self.log_text())[n - 1:]]

    def state(self):
        """The round trip's registry areas and shell folders, the program folder with its files
        and the batch files' folders."""
        state = machine_generator.machine_state(self.prefix, harness)
        drive, folder = self.prefix.unix_path("C:\\"), self.prefix.unix_path(harness.PROGRAM_FOLDER)
        paths = glob.glob(os.path.join(self.prefix.unix_path(SYSTEM_TEMP), "Bdl-*"))
        for top, folders, files in os.walk(folder):
            paths += [top] + [os.path.join(top, name) for name in files]
        state["files"] = {"C:\\" + os.path.relpath(path, drive).replace("/", "\\")
                          for path in paths}
        return state

    def differences(self, end, now):
        return machine_generator.differences(end, now) + \
            ["files: gone: " + path for path in sorted(end["files"] - now["files"])] + \
            ["files: left over: " + path for path in sorted(now["files"] - end["files"])]


if __name__ == "__main__":
    harness.main()
