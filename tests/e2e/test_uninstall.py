"""The uninstall as a user or the list of installed programs starts it: the real Uninstall.exe in
an installed program folder, and Wine's cmd.exe running the batch file that deletes the program
and its folder after it has ended."""
import glob
import os
import shutil
import subprocess
import time
import unittest

import harness

CAPTION = "Uninstall Bundlo"  # every box of the uninstall
IDOK, IDYES, IDNO = 1, 6, 7
CONFIRMATION = "Do you want to remove Bundlo"
NO_LIST = "Cannot open Uninstall.lst."
RESTART = "Some files of Bundlo are in use."
REMOVED = "Bundlo has been removed from your computer."
DAMAGED = "cannot be read completely"
BUSY = "Another setup or removal of Bundlo is running"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
# What the setup registers, one key of each kind.
REGISTRATIONS = [r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Bundlo archiver",
                 r"HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Bundlo.exe",
                 r"HKCR\.zip", r"HKCR\Bundlo", r"HKCU\Software\Bundlo"]
TOOLS = r"C:\bdltest"


class UninstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.Prefix()
        cls.prefix.reset()
        os.makedirs(cls.prefix.unix_path(TOOLS), exist_ok=True)
        cls.integration_driver = TOOLS + r"\integration_driver.exe"
        shutil.copy(os.path.join(harness.BUILD, "tools", "integration_driver.exe"),
                    cls.prefix.unix_path(cls.integration_driver))
        # Wine creates even the dialogs that confirm themselves (/S) only with a display.
        cls.display = harness.Display(cls.prefix)
        cls.display.__enter__()
        cls.driver = harness.Driver(cls.prefix)

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)

    def setUp(self):
        # An earlier scenario's batch may still be deleting its own files as this goes.
        for leftover in self.batch_files():
            shutil.rmtree(leftover, ignore_errors=True)

    def unix(self, path):
        if path[0].lower() == "r":
            return os.path.join(self.root_drive(), path[3:].replace("\\", "/"))
        return self.prefix.unix_path(path)

    def root_drive(self):
        """R:, a drive of its own, so that a program can sit in a drive's root folder."""
        folder = os.path.join(self.prefix.path, "bdl_drive_r")
        link = os.path.join(self.prefix.path, "dosdevices", "r:")
        os.makedirs(folder, exist_ok=True)
        if not os.path.islink(link):
            os.symlink(folder, link)
        return folder

    def lay_out(self, folder, entries, listed=None):
        """An installed program folder: Uninstall.exe, the entries (a trailing backslash makes a
        folder) and Uninstall.lst naming `listed` (default: every entry, deepest folder last and
        every folder before its files) in the ANSI code page. Returns the program's path."""
        if folder[0] in "cC":
            shutil.rmtree(self.unix(folder), ignore_errors=True)  # an earlier scenario's leftovers
            program = self.prefix.install(folder=folder)
        else:
            program = folder.rstrip("\\") + r"\Uninstall.exe"
            shutil.copy(harness.EXE, self.unix(program))
        for entry in entries:
            path = self.unix(folder.rstrip("\\") + "\\" + entry)
            if entry.endswith("\\"):
                os.makedirs(path, exist_ok=True)
            else:
                with open(path, "w") as f:
                    f.write(entry)
        if listed is None:
            folders = sorted((e for e in entries if e.endswith("\\")), key=lambda e: e.count("\\"))
            listed = folders + [e for e in entries if not e.endswith("\\")]
        with open(self.unix(folder.rstrip("\\") + r"\Uninstall.lst"), "wb") as f:
            f.write("".join(line + "\r\n" for line in listed).encode("cp1252"))
        return program

    def register(self, program):
        """The registrations of a setup with every choice: the real setup where it registers
        (it needs a display), else the same steps through the integration driver."""
        try:
            self.prefix.run(program, ["/setup", "/S", "/initA" + "1" * 18 + "S1D1M1P1"], timeout=60)
        except subprocess.TimeoutExpired:
            pass
        if REGISTRATIONS[0] not in self.existing(REGISTRATIONS[:1]):
            self.assertEqual(0, self.prefix.run(self.integration_driver, ["apply"]).code)
        self.assertEqual(set(REGISTRATIONS), self.existing(REGISTRATIONS))

    def existing(self, keys):
        """Those of the keys that exist in either registry view, from one run of the
        interpreter."""
        script = TOOLS + r"\query.bat"
        with open(self.prefix.unix_path(script), "w", newline="\r\n") as f:
            f.write("@echo off\n")
            for n, key in enumerate(keys):
                for view in ("32", "64"):
                    f.write(f'reg query "{key}" /reg:{view} >nul 2>&1\nif not errorlevel 1 '
                            f'echo found {n}\n')
        output = self.prefix.run("cmd", ["/c", script]).stdout
        return {key for n, key in enumerate(keys) if f"found {n}" in output}

    def pending_deletions(self):
        """The paths Wine deletes at its next restart."""
        value = self.prefix.reg_query(SESSION_MANAGER, "PendingFileRenameOperations") or ""
        texts = value.split("\\0")
        return {texts[i][4:] for i in range(0, len(texts) - 1, 2)
                if texts[i].startswith("\\??\\") and texts[i + 1] == ""}

    def batch_files(self):
        """The batch files' private folders: the system's temporary folder's when elevated (every
        run under this Wine is), the user's otherwise."""
        drive = os.path.join(self.prefix.path, "drive_c")
        users = os.path.join(drive, "users", "*")
        return (glob.glob(os.path.join(drive, "windows", "temp", "Bdl-*")) +
                glob.glob(os.path.join(users, "Temp", "Bdl-*")) +
                glob.glob(os.path.join(users, "AppData", "Local", "Temp", "Bdl-*")))

    def wait_until(self, condition, what, timeout=120):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                self.fail("timed out waiting until " + what)
            time.sleep(0.5)

    def assert_removed(self, folder):
        """The batch file has deleted the program, the folder and then itself."""
        self.wait_until(lambda: not os.path.exists(self.unix(folder)), folder + " is gone")
        self.wait_until(lambda: not self.batch_files(), "the batch file is gone", timeout=30)

    def write_settings(self, folder, text, zero_at=None):
        """Bundlo.ini in the program folder, UTF-16 as the program writes it; zero_at puts a zero
        character at that character position. Returns its bytes."""
        data = b"\xff\xfe" + text.encode("utf-16-le")
        if zero_at is not None:
            data = data[:2 + 2 * zero_at] + b"\0\0" + data[2 + 2 * zero_at:]
        with open(self.unix(folder + r"\Bundlo.ini"), "wb") as f:
            f.write(data)
        return data

    def read_bytes(self, path):
        with open(self.unix(path), "rb") as f:
            return f.read()

    def installed_state(self):
        """What an installed copy registered: the archiver's class keys and its own key."""
        return (self.existing(REGISTRATIONS), self.prefix.classes_snapshot(),
                self.prefix.registry_snapshot(r"HKCU\Software",
                                              lambda path: path.startswith("bundlo")))

    def hold(self, program_folder, held, command="hold", holder=None):
        """A program (by default one of the installation's) runs and keeps one of its files open
        ("lock": without letting anyone else read it)."""
        holder = holder or program_folder + r"\tools\holder.exe"
        shutil.copy(self.unix(self.integration_driver), self.unix(holder))
        ready = self.prefix.unix_path(TOOLS + r"\ready")
        if os.path.exists(ready):
            os.remove(ready)
        process = self.prefix.start(holder, [command, program_folder + "\\" + held, "300",
                                             TOOLS + r"\ready"])
        self.wait_until(lambda: os.path.exists(ready), "the holder holds its file", timeout=60)
        return process


class Silent(UninstallTest):
    # A box would wait for a click that never comes: these runs must end on their own.

    def test_without_a_batch_the_restart_removes_the_program_and_the_exit_code_says_so(self):
        # No private folder can be made (a file took the system's temporary folder's name), and
        # then no interpreter can be started (cmd.exe gone): never a silent exit 0.
        drive = os.path.join(self.prefix.path, "drive_c", "windows")
        # The system folder of the build under test: the 32-bit one sees SysWOW64 as its own.
        system = "system32" if os.path.basename(harness.BUILD) == "win64" else "syswow64"
        for blocked in (os.path.join(drive, "temp"), os.path.join(drive, system, "cmd.exe")):
            with self.subTest(blocked=blocked):
                program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe"])
                listed = self.unix(harness.PROGRAM_FOLDER + r"\Uninstall.lst")
                os.chmod(listed, 0o444)  # read-only, and still in the way of the folder
                os.rename(blocked, blocked + ".away")
                if blocked.endswith("temp"):
                    open(blocked, "w").close()
                try:
                    done = self.prefix.run(program, ["/S"], timeout=120, env=harness.DIAGNOSTICS)
                finally:
                    if os.path.isfile(blocked) and blocked.endswith("temp"):
                        os.remove(blocked)
                    os.rename(blocked + ".away", blocked)
                pending = self.pending_deletions()
                self.assertFalse(os.path.exists(listed))
                self.prefix.reset()
                # Wine hands the Unix side the exit code's low byte: 3010 comes as 194.
                self.assertEqual(3010 % 256, done.code)
                self.assertIn("leave the program and its folder for the restart",
                              "\n".join(done.diagnostics))
                # Moved to a free name first: the restart deletes nothing a later copy puts in.
                self.assertLessEqual({program + ".0.tmp", harness.PROGRAM_FOLDER}, pending)
                self.assertTrue(os.path.exists(self.unix(program + ".0.tmp")))

    def test_registrations_listed_files_and_folder_go_and_forged_lines_do_nothing(self):
        decoy = r"C:\decoy\keep.txt"
        os.makedirs(os.path.dirname(self.prefix.unix_path(decoy)), exist_ok=True)
        with open(self.prefix.unix_path(decoy), "w") as f:
            f.write("not the archiver's")
        entries = ["Bundlo.exe", "bdlext.dll", "bdlnew.dat", "zipnew.dat", "Gr\u00fc\u00dfe.txt",
                   "lang\\", "lang\\de.lng", "lang\\old\\", "lang\\old\\fr.lng"]
        forged = [r"..\..\decoy\keep.txt", decoy, r"\decoy\keep.txt", "/decoy/keep.txt",
                  "C:..\\..\\decoy\\keep.txt", r"\\localhost\C$\decoy\keep.txt"]
        program = self.lay_out(harness.PROGRAM_FOLDER, entries)
        with open(self.unix(harness.PROGRAM_FOLDER + r"\Uninstall.lst"), "ab") as f:
            f.write("".join(line + "\r\n" for line in forged + ["Uninstall.exe", "Uninstall.lst"])
                    .encode("cp1252"))
        os.chmod(self.unix(harness.PROGRAM_FOLDER + r"\bdlext.dll"), 0o444)  # read-only
        self.register(program)
        done = self.prefix.run(program, ["/S"], timeout=120, env=harness.DIAGNOSTICS)
        self.assertEqual(0, done.code)
        # Refused lines and the open program and list are planned for, not failures.
        self.assertEqual([], done.diagnostics)
        self.assertEqual(set(), self.existing(REGISTRATIONS))
        self.assert_removed(harness.PROGRAM_FOLDER)
        self.assertTrue(os.path.exists(self.prefix.unix_path(decoy)))

    def test_a_new_copy_put_in_the_folder_at_once_after_a_removal_stays_whole(self):
        # A deployment's "remove the old version, then install the new one into the same folder":
        # the old removal's batch file still runs meanwhile.
        files = ["Bundlo.exe", "bdlnew.dat", "zipnew.dat"]  # the templates the setup writes
        program = self.lay_out(harness.PROGRAM_FOLDER, files)
        self.register(program)
        self.assertEqual(0, self.prefix.run(program, ["/S"], timeout=120).code)
        self.register(self.lay_out(harness.PROGRAM_FOLDER, files))
        time.sleep(10)
        for name in ("Uninstall.exe", "Uninstall.lst", "Bundlo.exe"):
            self.assertTrue(os.path.exists(self.unix(harness.PROGRAM_FOLDER + "\\" + name)), name)
        self.assertEqual(set(REGISTRATIONS), self.existing(REGISTRATIONS))
        self.assertEqual(0, self.prefix.run(program, ["/S"], timeout=120).code)
        self.assertEqual(set(), self.existing(REGISTRATIONS))
        self.assert_removed(harness.PROGRAM_FOLDER)

    def test_a_lock_of_the_same_name_that_another_account_holds_stops_no_removal(self):
        # This Wine has no private namespaces: the lock is the global name a stranger can take.
        program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe"])
        ready = self.prefix.unix_path(TOOLS + r"\ready")
        if os.path.exists(ready):
            os.remove(ready)
        stranger = self.prefix.start(self.integration_driver, [
            "squat", r"Global\Bundlo.SetupOrRemoval", "300", TOOLS + r"\ready"])
        try:
            self.wait_until(lambda: os.path.exists(ready), "the stranger holds it", timeout=60)
            done = self.prefix.run(program, ["/S"], timeout=120, env=harness.DIAGNOSTICS)
            self.assertEqual(0, done.code)
            self.assertIn("a lock that another account made", "\n".join(done.diagnostics))
            self.assert_removed(harness.PROGRAM_FOLDER)
        finally:
            stranger.kill()
            stranger.wait()

    def test_folders_with_percent_or_characters_outside_ascii_go_at_the_same_time(self):
        # cmd.exe expands "%" and reads the batch file in the OEM code page. Two removals never
        # run at once (a second one ends with 1618), but the second writes its batch file while
        # the first one's still waits for its interpreter.
        folders = [r"C:\Tools\100% Bundlo", "C:\\Program Files\\B\u00fcndlo \u00c4rchiv"]
        programs = [self.lay_out(folder, ["Bundlo.exe"]) for folder in folders]
        for program in programs:
            self.assertEqual(0, self.prefix.run(program, ["/S"], timeout=120).code)
        for folder in folders:
            self.assert_removed(folder)

    def test_links_in_the_folder_go_without_what_they_point_to(self):
        # A junction or symbolic link that the user planted in the program folder, pointing at
        # files of someone else's. Wine reports a Unix symbolic link to a folder as a reparse
        # point (one to a file as a plain file), and removing a link removes its target when
        # that is empty: the targets here never are.
        outside = r"C:\decoy_linked"
        shutil.rmtree(self.unix(outside), ignore_errors=True)
        os.makedirs(self.unix(outside + r"\sub"))
        decoys = [outside + r"\keep.txt", outside + r"\sub\keep.txt"]
        for decoy in decoys:
            with open(self.unix(decoy), "w") as f:
                f.write("not the archiver's")
            os.chmod(self.unix(decoy), 0o444)
        before = {decoy: os.stat(self.unix(decoy)) for decoy in decoys}
        folder = harness.PROGRAM_FOLDER
        self.lay_out(folder, ["Bundlo.exe", "lang\\"],
                     listed=["Linked.txt", r"Linked\keep.txt", r"Linked\sub\keep.txt", r"Linked\sub",
                             "Linked", r"lang\Inner\keep.txt", r"lang\Inner", "Bundlo.exe", "lang"])
        os.symlink(self.unix(outside), self.unix(folder + r"\Linked"))
        os.symlink(self.unix(outside + r"\sub"), self.unix(folder + r"\lang\Inner"))
        # One to a read-only file, which this Wine shows as the file: refused, and left as it is.
        os.symlink(self.unix(decoys[0]), self.unix(folder + r"\Linked.txt"))
        try:
            self.assertEqual(0, self.prefix.run(folder + r"\Uninstall.exe", ["/S"],
                                                timeout=120).code)
            self.wait_until(lambda: not os.path.exists(self.unix(folder + r"\Uninstall.exe")),
                            "the program is gone")
            self.assertEqual(set(), {d for d in decoys if not os.path.exists(self.unix(d))})
            for decoy in decoys:
                after = os.stat(self.unix(decoy))
                self.assertEqual((before[decoy].st_mode, before[decoy].st_mtime_ns),
                                 (after.st_mode, after.st_mtime_ns), decoy)
            self.assertFalse(os.path.exists(self.unix(folder + r"\Bundlo.exe")))
            self.assertTrue(os.path.islink(self.unix(folder + r"\Linked.txt")))
            self.assertEqual(set(), {p for p in self.pending_deletions() if "Linked" in p or
                                     "Inner" in p or "keep.txt" in p})
        finally:
            for decoy in decoys:
                if os.path.exists(self.unix(decoy)):
                    os.chmod(self.unix(decoy), 0o644)
            shutil.rmtree(self.unix(folder), ignore_errors=True)  # links only, never followed
            shutil.rmtree(self.unix(outside), ignore_errors=True)

    def test_a_redirected_programs_folder_keeps_what_the_user_put_into_the_group(self):
        # The user points the own Programs folder elsewhere (the "Programs" value of User Shell
        # Folders, which Wine's SHGetFolderPath reads on every call, either type, a leading
        # variable expanded), where the group folder holds the user's own files. The setup and
        # the removal take and put only shortcut files there. A share of folder redirection is
        # one too: Wine reaches "\\localhost\bdl-share" through its prefix's dosdevices\unc.
        shell_folders = (r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer"
                         r"\User Shell Folders")
        original = self.prefix.reg_query(shell_folders, "Programs")
        share = os.path.join(self.prefix.path, "dosdevices", "unc", "localhost", "bdl-share")
        cases = [("REG_EXPAND_SZ", r"%SystemDrive%\Redirected\Programs", r"C:\Redirected\Programs"),
                 ("REG_SZ", r"\\localhost\bdl-share\Programs", r"C:\Shared\Programs")]
        for kind, value, folder in cases:
            with self.subTest(kind=kind, value=value):
                top = folder.rsplit("\\", 1)[0]
                shutil.rmtree(self.unix(top), ignore_errors=True)
                group = folder + r"\Bundlo"
                kept = {group + r"\keep.txt", group + r"\sub\keep.txt"}
                os.makedirs(self.unix(group + r"\sub"))
                for path in kept | {group + r"\Bundlo 5.lnk"}:
                    with open(self.unix(path), "w") as f:
                        f.write("the user's")
                if value.startswith("\\\\"):
                    os.makedirs(os.path.dirname(share), exist_ok=True)
                    os.symlink(self.unix(top), share)
                # The setup writes the "New" menu templates; the list names them.
                program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe", "Bundlo.chm"],
                                       listed=["Bundlo.exe", "Bundlo.chm", "bdlnew.dat",
                                               "zipnew.dat"])
                self.assertEqual(0, self.prefix.run("reg", ["add", shell_folders, "/v", "Programs",
                                                            "/t", kind, "/d", value, "/f"]).code)
                try:
                    setup = self.prefix.run(program, ["/setup", "/S", "/initP1"], timeout=120,
                                            env=harness.DIAGNOSTICS)
                    self.assertEqual((0, []), (setup.code, setup.diagnostics))
                    self.assertEqual({"Bundlo.lnk", "Bundlo Help.lnk", "keep.txt", "sub"},
                                     set(os.listdir(self.unix(group))))
                    removal = self.prefix.run(program, ["/S"], timeout=120,
                                              env=harness.DIAGNOSTICS)
                    self.assertEqual((0, []), (removal.code, removal.diagnostics))
                    self.assert_removed(harness.PROGRAM_FOLDER)
                    self.assertEqual({"keep.txt", "sub"}, set(os.listdir(self.unix(group))))
                    for path in kept:
                        with open(self.unix(path)) as f:
                            self.assertEqual("the user's", f.read(), path)
                finally:
                    self.prefix.run("reg", ["add", shell_folders, "/v", "Programs", "/t",
                                            "REG_EXPAND_SZ", "/d", original, "/f"])
                    if os.path.islink(share):
                        os.remove(share)
                    shutil.rmtree(self.unix(top), ignore_errors=True)

    def test_the_system_interpreter_runs_the_batch_from_any_temporary_folder(self):
        # What the user's own environment says: a temporary folder whose name cmd would split
        # without its quotes, and another program as the interpreter. Wine's cmd ignores the
        # DelayedExpansion and AutoRun settings, so /v:off and /d are checked on the command line
        # (uninstall_run_test).
        temp = "C:\\R&D (x) ^!\\Temp"
        os.makedirs(self.unix(temp), exist_ok=True)
        trace = TOOLS + r"\comspec_ran.txt"
        comspec = TOOLS + r"\comspec.bat"
        with open(self.unix(comspec), "w", newline="\r\n") as f:
            f.write(f'@echo ran %* > "{trace}"\n')
        cases = [(r"C:\Program Files\Bundlo!", f'"TEMP"="{temp}"\r\n"TMP"="{temp}"'),
                 (harness.PROGRAM_FOLDER, f'"COMSPEC"="{comspec}"')]
        for folder, environment in cases:
            with self.subTest(folder=folder, environment=environment):
                if os.path.exists(self.unix(trace)):
                    os.remove(self.unix(trace))
                program = self.lay_out(folder, ["Bundlo.exe"])
                self.prefix.reg_import("[HKEY_CURRENT_USER\\Environment]\r\n" +
                                       environment.replace("\\", "\\\\") + "\r\n")
                try:
                    self.assertEqual(0, self.prefix.run(program, ["/S"], timeout=120).code)
                    self.wait_until(lambda: not os.path.exists(self.unix(folder)),
                                    folder + " is gone", timeout=60)
                    self.wait_until(lambda: not self.batch_files() and
                                    not glob.glob(self.unix(temp + r"\Uninstall_Bdl*")),
                                    "the batch file is gone", timeout=30)
                    self.assertFalse(os.path.exists(self.unix(trace)), "COMSPEC's program ran")
                finally:
                    self.prefix.reset()
                    shutil.rmtree(self.unix(folder), ignore_errors=True)
        shutil.rmtree(self.unix(r"C:\R&D (x) ^!"), ignore_errors=True)

    def test_a_portable_copy_goes_whole_and_the_installed_copy_keeps_its_registrations(self):
        installed = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe"])
        self.register(installed)
        before = self.installed_state()
        portable = r"C:\Portable\Bundlo"
        self.lay_out(portable, ["Bundlo.exe", "Bundlo.ini", "lang\\", "lang\\de.lng"])
        self.write_settings(portable, "Global\\Integration=0\r\nHKCU\\Setup\\ShellExt=1\r\n")
        try:
            self.assertEqual(0, self.prefix.run(portable + r"\Uninstall.exe", ["/S"],
                                                timeout=120).code)
            # The exit must not bring Bundlo.ini back: the folder would stay.
            self.assert_removed(portable)
            self.assertEqual(before, self.installed_state())
        finally:
            shutil.rmtree(self.unix(portable), ignore_errors=True)

    def test_a_damaged_settings_file_stops_uninstall_and_setup_with_exit_code_1(self):
        program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe"])
        self.register(program)
        folder = harness.PROGRAM_FOLDER
        settings = self.write_settings(
            folder, "Global\\Integration=1\r\nHKCU\\Setup\\ShellExt=1\r\nHKCU\\Setup\\A=1\r\n",
            zero_at=30)
        listed = self.read_bytes(folder + r"\Uninstall.lst")
        done = self.prefix.run(program, ["/S"], timeout=120, env=harness.DIAGNOSTICS)
        self.assertEqual(1, done.code)
        self.assertEqual([f"Bundlo Uninstall: read the settings file: {folder}\\Bundlo.ini: error 13"],
                         done.diagnostics)
        self.assertEqual(settings, self.read_bytes(folder + r"\Bundlo.ini"))
        self.assertEqual(listed, self.read_bytes(folder + r"\Uninstall.lst"))
        self.assertTrue(os.path.exists(self.unix(folder + r"\Bundlo.exe")))
        self.assertEqual(set(REGISTRATIONS), self.existing(REGISTRATIONS))
        self.assertEqual([], self.batch_files())
        # The setup writes nothing either.
        self.prefix.reset()
        self.assertEqual(1, self.prefix.run(program, ["/setup", "/S", "/initA" + "1" * 18 + "S1D1"],
                                            timeout=120).code)
        self.assertEqual(settings, self.read_bytes(folder + r"\Bundlo.ini"))
        self.assertEqual(set(), self.existing(REGISTRATIONS))

    def test_program_in_a_drive_root(self):
        program = self.lay_out("R:\\", ["a.txt", "sub\\", "sub\\b.txt"])
        try:
            self.assertEqual(0, self.prefix.run(program, ["/S"], timeout=120).code)
            self.wait_until(lambda: not os.path.exists(self.unix(program)), "the program is gone")
            self.assertEqual([], os.listdir(self.root_drive()))
            self.wait_until(lambda: not self.batch_files(), "the batch file is gone", timeout=30)
        finally:
            os.remove(os.path.join(self.prefix.path, "dosdevices", "r:"))

    def test_files_in_use_wait_for_the_restart_without_a_notice(self):
        folder = harness.PROGRAM_FOLDER
        self.lay_out(folder, ["tools\\", "data.bin"],
                     listed=["tools", r"tools\holder.exe", "data.bin"])
        holder = self.hold(folder, "data.bin")
        log = TOOLS + r"\removal.log"
        if os.path.exists(self.unix(log)):
            os.remove(self.unix(log))
        try:
            program = folder + r"\Uninstall.exe"
            done = self.prefix.run(program, ["/S", "/log=" + log], timeout=120,
                                   env=harness.DIAGNOSTICS, whole_code=True)
            # Done, and the restart finishes it: what the distribution tools read.
            self.assertEqual(3010, done.code)
            # What cannot go now is on the record; the rename that made room for holder.exe
            # worked. A running program is refused (5), an open file is in use (32).
            self.assertEqual([f"Bundlo Uninstall: delete file: {folder}\\data.bin: error 32",
                              f"Bundlo Uninstall: delete file: {folder}\\tools\\holder.exe: error 5",
                              f"Bundlo Uninstall: move file: {folder}\\data.bin: error 32"],
                             sorted(done.diagnostics))
            self.wait_until(lambda: not os.path.exists(self.unix(program)), "the program is gone")
            self.wait_until(lambda: not self.batch_files(), "the batch file is gone", timeout=30)
            pending = self.pending_deletions()
            self.assertIn(folder + r"\tools\holder.exe.0.tmp", pending)
            self.assertIn(folder + r"\data.bin", pending)  # cannot even be renamed
            self.assertNotIn(folder, pending)  # the folder only after the notice
            self.assertFalse(os.path.exists(self.unix(folder + r"\tools\holder.exe")))
            with open(self.unix(log), encoding="utf-8-sig") as f:
                lines = f.read().splitlines()
            text = "\n".join(lines)
            for left in (folder + r"\data.bin", folder + r"\tools\holder.exe (moved to "
                         "holder.exe.0.tmp)"):
                self.assertIn("Left for the restart: " + left + "\n", text)
            for line in done.diagnostics:
                self.assertIn(line, text)
            self.assertTrue(lines[-1].endswith(" Exit code: 3010"), lines[-1])
        finally:
            holder.kill()
            holder.wait()

    def test_a_list_that_cannot_be_deleted_keeps_the_program_for_the_next_run(self):
        # Were the program to leave, the list would keep the folder for good with nothing left
        # to finish the removal.
        folder = harness.PROGRAM_FOLDER
        program = self.lay_out(folder, ["data.bin"])
        holder = self.hold(folder, "Uninstall.lst", holder=TOOLS + r"\holder.exe")
        try:
            done = self.prefix.run(program, ["/S"], timeout=120, env=harness.DIAGNOSTICS,
                                   whole_code=True)
            self.assertEqual(1, done.code)
            self.assertEqual([f"Bundlo Uninstall: delete file: {folder}\\Uninstall.lst: error 32"],
                             done.diagnostics)
            self.wait_until(lambda: not self.batch_files(), "the batch file is gone", timeout=30)
            self.assertTrue(os.path.exists(self.unix(program)))
        finally:
            holder.kill()
            holder.wait()
        self.assertEqual(0, self.prefix.run(program, ["/S"], timeout=120).code)
        self.assert_removed(folder)


class Interactive(UninstallTest):
    def box(self, button, timeout_ms=60000):
        """The text of the uninstall's box that has that button, or None."""
        done = self.driver._run("wait", CAPTION, timeout_ms, button, "Button")
        if done.code != 0:
            return None
        return "\n".join(line.split("\t")[2] for line in done.stdout.splitlines()
                         if line.count("\t") == 2)

    def start_and_confirm(self, program, answer):
        """Starts the removal and answers its question; None leaves it asking."""
        process = self.prefix.start(program, whole_code=True)
        self.assertIn(CONFIRMATION, self.box(IDYES) or "no confirmation")
        if answer is not None:
            self.assertTrue(self.driver.press(CAPTION, answer))
        return process

    def test_no_and_a_missing_list_keep_every_registration(self):
        program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe"])
        self.register(program)
        process = self.start_and_confirm(program, IDNO)
        self.assertEqual(1, process.wait(timeout=60))
        os.remove(self.unix(harness.PROGRAM_FOLDER + r"\Uninstall.lst"))
        process = self.start_and_confirm(program, IDYES)
        self.assertIn(NO_LIST, self.box(IDOK) or "no message")
        self.assertTrue(self.driver.press(CAPTION, IDOK))
        self.assertEqual(1, process.wait(timeout=60))
        # Unattended: no box to wait on, and not a success either.
        done = self.prefix.run(program, ["/S"], timeout=120, env=harness.DIAGNOSTICS)
        self.assertEqual(1, done.code)
        self.assertEqual(["Bundlo Uninstall: open the uninstall list: "
                          + harness.PROGRAM_FOLDER + r"\Uninstall.lst: error 2"], done.diagnostics)
        self.assertEqual(set(REGISTRATIONS), self.existing(REGISTRATIONS))
        self.assertTrue(os.path.exists(self.unix(harness.PROGRAM_FOLDER + r"\Bundlo.exe")))

    def test_a_locked_settings_file_is_reported_and_nothing_changes(self):
        # The archiver holds the file while it writes it: unreadable, whatever it says.
        program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe", "tools\\"])
        settings = self.write_settings(harness.PROGRAM_FOLDER, "Global\\Integration=0\r\n")
        ini = harness.PROGRAM_FOLDER + r"\Bundlo.ini"
        holder = self.hold(harness.PROGRAM_FOLDER, "Bundlo.ini", "lock")
        try:
            process = self.prefix.start(program)
            text = self.box(IDOK) or "no message"
            self.assertIn(DAMAGED, text)
            self.assertIn(ini, text)
            self.assertTrue(self.driver.press(CAPTION, IDOK))
            self.assertEqual(1, process.wait(timeout=60))
        finally:
            holder.kill()
            holder.wait()
        self.assertEqual(settings, self.read_bytes(ini))
        self.assertTrue(os.path.exists(self.unix(harness.PROGRAM_FOLDER + r"\Bundlo.exe")))
        self.assertEqual([], self.batch_files())

    def test_restart_notice_comes_once_after_the_passes_and_the_folder_is_scheduled(self):
        folder = harness.PROGRAM_FOLDER
        program = self.lay_out(folder, ["Bundlo.exe", "tools\\"],
                               listed=["tools", r"tools\holder.exe", "Bundlo.exe"])
        holder = self.hold(folder, "Bundlo.exe")
        try:
            process = self.start_and_confirm(program, IDYES)
            self.assertIn(RESTART, self.box(IDOK) or "no restart notice")
            self.assertEqual("1", self.driver._run("count", CAPTION).stdout.strip())
            self.assertFalse(os.path.exists(self.unix(folder + r"\tools\holder.exe")))
            self.assertTrue(self.driver.press(CAPTION, IDOK))
            self.assertEqual(3010, process.wait(timeout=60))
            self.assertIn(folder, self.pending_deletions())
            self.wait_until(lambda: not os.path.exists(self.unix(program)), "the program is gone")
            self.assertIsNone(self.box(IDOK, 3000), "a second box")
        finally:
            holder.kill()
            holder.wait()

    def test_a_second_run_while_the_first_asks_changes_nothing_and_ends_with_1618(self):
        # The templates are the setup's, listed as the installer lists them.
        program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe", "bdlnew.dat", "zipnew.dat"])
        self.register(program)
        first = self.start_and_confirm(program, None)
        try:
            second = self.prefix.run(program, ["/S"], timeout=120, env=harness.DIAGNOSTICS,
                                     whole_code=True)
            self.assertEqual(1618, second.code)
            self.assertEqual(1, len(second.diagnostics), second.diagnostics)
            self.assertIn("another setup or removal of Bundlo is running", second.diagnostics[0])
            # Asked in person, it says why.
            setup = self.prefix.start(program, ["/setup"], whole_code=True)
            self.assertIn(BUSY, "\n".join(c[2] for c in self.driver.wait("Bundlo Setup") or []))
            self.assertTrue(self.driver.press("Bundlo Setup", IDOK))
            self.assertEqual(1618, setup.wait(timeout=60))
            self.assertEqual(set(REGISTRATIONS), self.existing(REGISTRATIONS))
            self.assertTrue(os.path.exists(self.unix(harness.PROGRAM_FOLDER + r"\Bundlo.exe")))
        finally:
            self.assertTrue(self.driver.press(CAPTION, IDYES))
        self.assertEqual(0, first.wait(timeout=60))
        self.assertEqual(set(), self.existing(REGISTRATIONS))
        self.assert_removed(harness.PROGRAM_FOLDER)

    def test_a_read_only_program_goes_too_without_a_warning(self):
        program = self.lay_out(harness.PROGRAM_FOLDER, ["Bundlo.exe"], listed=["Bundlo.exe"])
        # Read-only, as copied from a disc: a plain "del" refuses them.
        for path in (program, harness.PROGRAM_FOLDER + r"\Uninstall.lst"):
            os.chmod(self.unix(path), 0o444)
        process = self.start_and_confirm(program, IDYES)
        self.assertEqual(0, process.wait(timeout=60))
        self.assert_removed(harness.PROGRAM_FOLDER)
        self.assertIsNone(self.box(IDOK, 5000))


if __name__ == "__main__":
    harness.main()
