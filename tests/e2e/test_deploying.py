"""The README's guide for administrators, run as written: every command-line example of its
"Deploying Bundlo on many machines" section is read from the README and run against the real
program through cmd.exe, and each must have a check here, so that the guide cannot drift from
the program; the manifest, detection-rule and return-code blocks are checked against the key,
the values and the codes the program writes and returns."""
import os
import re
import shutil
import subprocess
import time
import unittest

import harness

README = os.path.join(harness.ROOT, "README.md")
SECTION = "## Deploying Bundlo on many machines"
FOLDER = harness.PROGRAM_FOLDER
PORTABLE = r"C:\Tools\Bundlo"
CLSID64 = "{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F02}"
APP_PATHS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Bundlo.exe"
ENTRY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Bundlo archiver"
PACKAGE = r"C:\package"
# What the program's exit codes tell a distribution tool.
CODES = {0: "Success", 3010: "Soft reboot", 1618: "Retry", 1: "Failed"}
LISTED = ("Bundlo.exe", "bdlext.dll", "bdlext64.dll", "bdlnew.dat", "zipnew.dat", "Uninstall.exe")
SHELL_FOLDERS = [r"C:\users\Public\Desktop", r"C:\ProgramData\Microsoft\Windows\Start Menu",
                 r"C:\users\{user}\Desktop",
                 r"C:\users\{user}\AppData\Roaming\Microsoft\Windows\Start Menu"]


def readme_examples():
    """The fenced blocks of the section as (language, text), in their order."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    section = text.split(SECTION, 1)[1].split("\n## ", 1)[0]
    return re.findall(r"^```(\w+)\n(.*?)^```", section, re.M | re.S)


def windows_arguments(line):
    """A command line of the examples: a quoted program, then switches separated by spaces."""
    match = re.fullmatch(r'"([^"]+)"((?: +\S+)*)', line)
    assert match, line
    return match.group(1), match.group(2).split()


def fields(text):
    """The "name: value" lines of a block (YAML or a tool's form), by name."""
    return dict(re.findall(r"^\s*(?:- )?([^:#\n]+): (.+)$", text, re.M))


class Deploying(harness.ProgramTest):
    @classmethod
    def setUpClass(cls):
        # The command lines are the same for both builds, whose switches the other scenarios
        # run; the guide is checked once, with the build most machines get.
        if os.path.basename(harness.BUILD) != "win64":
            raise unittest.SkipTest("the guide is run with the 64-bit build")
        super().setUpClass()
        # Wine creates even the dialogs that confirm themselves (/S) only with a display.
        cls.display = harness.Display(cls.prefix)
        cls.display.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)

    # The state each example starts from: the installer's program folder with its list (the
    # setup adds the "New" menu's templates), no shortcuts.
    def fresh_machine(self, folder=FOLDER, listed=LISTED):
        self.prefix.reset()
        shutil.rmtree(self.prefix.unix_path(PORTABLE), ignore_errors=True)
        for link in self.links():
            os.remove(link)
        program = self.prefix.install(folder=folder)
        for name in ("Bundlo.exe", "bdlext.dll", "bdlext64.dll"):
            with open(self.prefix.unix_path(folder + "\\" + name), "w") as f:
                f.write("placeholder")
        if listed:
            with open(self.prefix.unix_path(folder + r"\Uninstall.lst"), "w") as f:
                f.write("".join(name + "\r\n" for name in listed))
        return program

    def links(self):
        user = os.environ.get("USER", "root")
        found = []
        for folder in SHELL_FOLDERS:
            for top, _, names in os.walk(self.prefix.unix_path(folder.format(user=user))):
                found += [os.path.join(top, n) for n in names if n == "Bundlo.lnk"]
        return found

    def run_bat(self, text, cwd=None):
        """Runs the block as a batch file of cmd.exe; the whole exit code of each command in it
        (not of rem, set and md), in order."""
        script, codes = r"C:\bdl_example.bat", r"C:\bdl_example_codes.txt"
        lines = ["@echo off"]
        for line in text.splitlines():
            lines.append(line)
            if not line.startswith(("rem ", "set ", "md ")):
                lines.append(f"echo code %errorlevel% >> {codes}")
        with open(self.prefix.unix_path(script), "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        if os.path.exists(self.prefix.unix_path(codes)):
            os.remove(self.prefix.unix_path(codes))
        self.prefix.run("cmd", ["/c", script], cwd=cwd, timeout=300)
        with open(self.prefix.unix_path(codes)) as f:
            return [int(line.split()[1]) for line in f.read().splitlines()]

    def entry(self, value):
        return self.prefix.reg_query(ENTRY, value, self.view())

    def log_lines(self, path, remove=False):
        """A log's lines; remove=True deletes it instead, before a run that would continue it.
        Wine's Windows folder is spelled in small letters, which Linux tells apart."""
        path = self.prefix.unix_path(path.replace(r"C:\Windows\Temp", r"C:\windows\temp"))
        if remove:
            return os.path.exists(path) and os.remove(path)
        with open(path, encoding="utf-8-sig") as f:
            return f.read().splitlines()

    def written(self):
        """The uninstall entry of a plain setup, read once: what the manifest and the detection
        rules must name."""
        if not hasattr(Deploying, "entry_values"):
            self.assertEqual(0, self.prefix.run(self.fresh_machine(), ["/setup", "/S"],
                                                timeout=120).code)
            Deploying.entry_values = {name: self.entry(name) for name in
                                      ("DisplayName", "Publisher", "DisplayVersion")}
        return Deploying.entry_values

    def run_sh(self, text):
        done = subprocess.run(["bash", "-c", text], env=self.prefix.env(), capture_output=True,
                              text=True, timeout=120)
        return done.stdout

    def view(self):
        return 64 if os.path.basename(harness.BUILD) == "win64" else 32

    def associated(self, extension):
        return self.prefix.reg_query(rf"HKCR\{extension}", "")

    def wait_gone(self, folder):
        start = time.monotonic()
        while os.path.exists(self.prefix.unix_path(folder)) and time.monotonic() - start < 60:
            time.sleep(0.5)
        self.assertFalse(os.path.exists(self.prefix.unix_path(folder)), folder)

    # One check per example, keyed by the example's first command's switches.
    def check_init_own_formats(self, text):
        self.fresh_machine()
        self.assertEqual([0], self.run_bat(text))
        self.assertEqual(("Bundlo", "Bundlo.ZIP", None),
                         tuple(self.associated(e) for e in (".bdl", ".zip", ".7z")))
        self.assertIsNotNone(self.prefix.reg_query(rf"HKCR\CLSID\{CLSID64}", None, 64))
        groups = {os.path.basename(os.path.dirname(link)) for link in self.links()}
        self.assertEqual({"Bundlo"}, groups, "only the program group's shortcuts")

    def check_init_nothing(self, text):
        self.fresh_machine()
        self.assertEqual([0], self.run_bat(text))
        self.assertEqual((None, None), (self.associated(".bdl"), self.associated(".zip")))
        self.assertIsNone(self.prefix.reg_query(rf"HKCR\CLSID\{CLSID64}", None, 64))
        self.assertEqual([], self.links())
        self.assertIsNotNone(self.prefix.reg_query(APP_PATHS, ""))
        self.assertIsNotNone(self.prefix.reg_query(
            r"HKLM\Software\RegisteredApplications", "Bundlo", self.view()))
        self.assertIsNotNone(self.prefix.reg_query(ENTRY, "UninstallString", self.view()))

    def check_install(self, text):
        self.fresh_machine()
        self.assertEqual([0], self.run_bat(text))
        self.assertEqual("Bundlo.ZIP", self.associated(".zip"))
        self.assertIsNotNone(self.prefix.reg_query(ENTRY, "UninstallString", self.view()))

    def check_uninstall(self, text):
        program = self.fresh_machine()
        self.assertEqual(0, self.prefix.run(program, ["/setup", "/S"], timeout=120).code)
        # The example is the entry's quiet command, which the tools run.
        self.assertEqual(text.strip(), self.entry("QuietUninstallString"))
        self.assertEqual([0], self.run_bat(text))
        self.wait_gone(FOLDER)
        self.assertEqual((None, None), (self.associated(".zip"), self.prefix.reg_query(APP_PATHS)))
        self.assertIsNone(self.prefix.reg_query(ENTRY, None, self.view()))

    def check_sfxcmd(self, text):
        self.fresh_machine()
        # A setup that was not made silent would wait for its dialog and run out of time.
        self.assertEqual([0], self.run_bat(text))
        self.assertEqual("Bundlo.ZIP", self.associated(".zip"))

    def check_portable(self, text):
        self.fresh_machine(PORTABLE, listed=LISTED + ("Bundlo.ini",))
        ini = self.prefix.unix_path(PORTABLE + r"\Bundlo.ini")
        with open(ini, "w", encoding="utf-16") as f:
            f.write("Global\\Integration=0\r\n")
        self.assertEqual([0, 0], self.run_bat(text))
        self.wait_gone(PORTABLE)
        self.assertEqual((None, None), (self.associated(".zip"),
                                        self.prefix.reg_query(r"HKCU\Software\Bundlo")))
        self.assertIsNone(self.prefix.reg_query(APP_PATHS))
        self.assertEqual([], self.links())

    def check_diagnostics(self, text):
        self.fresh_machine(listed=())
        self.assertEqual(["Bundlo Uninstall: open the uninstall list: " + FOLDER +
                          r"\Uninstall.lst: error 2"],
                         harness.diagnostic_lines(self.run_sh(text)))

    def check_log(self, text):
        self.fresh_machine()
        shutil.rmtree(self.prefix.unix_path(r"C:\Logs"), ignore_errors=True)
        self.assertEqual([0, 0], self.run_bat(text))
        self.wait_gone(FOLDER)
        setup, removal = (self.log_lines(rf"C:\Logs\{log}.log") for log in ("setup", "removal"))
        self.assertEqual("Bundlo Uninstall log", setup[0])
        self.assertTrue(setup[2].endswith("Command line: " + text.splitlines()[1]), setup[2])
        # All but the program itself, which the batch file deletes.
        self.assertIn("Removal step: the listed files: 5 deleted", "\n".join(removal))
        self.assertEqual(["Exit code: 0"] * 2, [setup[-1][9:], removal[-1][9:]])
        # A log that cannot be written changes nothing: none in a folder that is not there, and
        # a file that is no log of this program is left as it is.
        with open(self.prefix.unix_path(r"C:\Logs\deploy.cmd"), "w") as f:
            f.write("@echo off\r\n")
        program = self.fresh_machine()
        for log in (r"C:\NoSuchFolder\setup.log", r"C:\Logs\deploy.cmd"):
            self.assertEqual(0, self.prefix.run(program, ["/setup", "/S", "/log=" + log],
                                                timeout=120).code)
            self.assertEqual("Bundlo.ZIP", self.associated(".zip"))
        self.assertFalse(os.path.exists(self.prefix.unix_path(r"C:\NoSuchFolder")))
        self.assertEqual(["@echo off"], self.log_lines(r"C:\Logs\deploy.cmd"))

    def check_msi(self, text):
        self.fresh_machine()
        setup_line, removal_line = text.splitlines()
        self.assertEqual([0], self.run_bat(setup_line))
        self.assertIsNone(self.entry(None), "the package's own entry is the one shown")
        self.assertEqual("Bundlo.ZIP", self.associated(".zip"))
        self.assertEqual([0], self.run_bat(removal_line))
        self.assertEqual((None, None), (self.associated(".zip"), self.associated("Bundlo")))
        self.assertIsNotNone(self.prefix.reg_query(APP_PATHS, ""))
        for name in LISTED + ("Uninstall.lst",):
            self.assertTrue(os.path.exists(self.prefix.unix_path(FOLDER + "\\" + name)), name)

    def check_winget(self, text):
        manifest = fields(text)
        self.assertEqual(("/S", "/S", "/log=<LOGPATH>", ENTRY.rsplit("\\", 1)[1]),
                         (manifest["Silent"], manifest["SilentWithProgress"], manifest["Log"],
                          manifest["ProductCode"]))
        for name, value in self.written().items():
            self.assertEqual(manifest[name], value, name)

    def check_intune(self, text):
        self.fresh_machine()
        shutil.rmtree(self.prefix.unix_path(PACKAGE), ignore_errors=True)
        os.makedirs(self.prefix.unix_path(PACKAGE))
        shutil.move(self.prefix.unix_path(FOLDER), self.prefix.unix_path(PACKAGE + r"\Bundlo"))
        install, uninstall = text.split("\nrem Uninstall command\n")
        logs = [rf"C:\Windows\Temp\Bundlo-{log}.log" for log in ("setup", "removal")]
        for log in logs:
            self.log_lines(log, remove=True)
        self.assertEqual([0], self.run_bat(install, cwd=PACKAGE))
        self.assertEqual("Bundlo.ZIP", self.associated(".zip"))
        self.assertEqual(f'"{FOLDER}\\Uninstall.exe" /S', self.entry("QuietUninstallString"))
        listed = sum(os.path.getsize(self.prefix.unix_path(FOLDER + "\\" + n)) for n in LISTED)
        self.assertEqual((listed + 1023) // 1024, int(self.entry("EstimatedSize"), 16))
        self.assertRegex(self.entry("InstallDate"), r"^20\d\d(0[1-9]|1[012])(0[1-9]|[12]\d|3[01])$")
        self.assertEqual("https://www.bundlo.com/", self.entry("URLInfoAbout"))
        # A later setup keeps the date of the first.
        self.prefix.run("reg", ["add", ENTRY, "/v", "InstallDate", "/d", "20200131", "/f",
                                f"/reg:{self.view()}"])
        self.assertEqual(0, self.prefix.run(FOLDER + r"\Uninstall.exe", ["/setup", "/S"],
                                            timeout=120).code)
        self.assertEqual("20200131", self.entry("InstallDate"))
        self.assertEqual([0], self.run_bat(uninstall))
        self.wait_gone(FOLDER)
        self.assertIsNone(self.entry(None))
        self.assertEqual(["Exit code: 0"] * 2, [self.log_lines(log)[-1][9:] for log in logs])

    def check_intune_detection(self, text):
        rule = fields(text)
        self.assertEqual(("Registry", "Version comparison", "Greater than or equal to"),
                         (rule["Rule type"], rule["Detection method"], rule["Operator"]))
        key = rule["Key path"].replace("HKEY_LOCAL_MACHINE", "HKLM")
        self.assertEqual(ENTRY.lower(), key.lower())
        self.assertEqual("Yes" if self.view() == 32 else "No",
                         rule["Associated with a 32-bit app on 64-bit clients"])
        self.assertEqual(("DisplayVersion", self.written()["DisplayVersion"]),
                         (rule["Value name"], rule["Value"]))

    def check_return_codes(self, text):
        self.assertEqual(CODES, {int(line.split(" ", 1)[0]): line.split(" ", 1)[1]
                                 for line in text.splitlines()})
        # The program's exit codes, as the README's table lists them, and 8 (out of memory).
        with open(README, encoding="utf-8") as f:
            table = f.read().split("### Exit codes", 1)[1].split("\n#", 1)[0]
        self.assertEqual(set(CODES) | {8}, {int(c) for c in re.findall(r"^\| (\d+) \|", table,
                                                                       re.M)})

    CHECKS = {
        "/setup /S /initA110000000000000000S1D0M0P1": check_init_own_formats,
        "/setup /S /initA000000000000000000S0D0M0P0": check_init_nothing,
        "/setup /S": check_install,
        "/S": check_uninstall,
        "set sfxcmd=/S": check_sfxcmd,
        "md C:\\Logs": check_log,
        "/setup /S /msi": check_msi,
        "# winget installer manifest (fragment)": check_winget,
        "rem Install command": check_intune,
        "Rule type: Registry": check_intune_detection,
        "0 Success": check_return_codes,
        "rem C:\\Tools\\Bundlo\\Bundlo.ini holds the line Global\\Integration=0": check_portable,
        "WINEDEBUG=warn+seh": check_diagnostics,
    }

    def key(self, text):
        """The first line, or for a command the switches of its program."""
        first = text.splitlines()[0]
        if first.startswith('"'):
            return " ".join(windows_arguments(first)[1])
        return first.split()[0] if first.startswith("WINEDEBUG=") else first

    def test_every_example_of_the_guide_does_what_it_says(self):
        examples = readme_examples()
        keys = [self.key(text) for _, text in examples]
        self.assertEqual(sorted(self.CHECKS), sorted(keys), "examples without a check, or checks "
                         "without an example")
        for language, text in examples:
            with self.subTest(example=text):
                self.assertIn(language, ("bat", "sh", "yaml", "text"))
                self.CHECKS[self.key(text)](self, text)


if __name__ == "__main__":
    harness.main()
