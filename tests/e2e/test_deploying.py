"""The README's guide for administrators, run as written: every command-line example of its
"Deploying Bundlo on many machines" section is read from the README and run against the real
program, and each must have a check here, so that the guide cannot drift from the program."""
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

    def run_bat(self, text):
        """Runs the block's commands in order, as cmd.exe would read them; their results."""
        env, results = {}, []
        for line in text.splitlines():
            if line.startswith("rem "):
                continue
            if line.startswith("set "):
                name, value = line[4:].split("=", 1)
                env[name] = value
                continue
            program, args = windows_arguments(line)
            results.append(self.prefix.run(program, args, env=env, timeout=120))
        return results

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
        self.assertEqual([0], [r.code for r in self.run_bat(text)])
        self.assertEqual(("Bundlo", "Bundlo.ZIP", None),
                         tuple(self.associated(e) for e in (".bdl", ".zip", ".7z")))
        self.assertIsNotNone(self.prefix.reg_query(rf"HKCR\CLSID\{CLSID64}", None, 64))
        groups = {os.path.basename(os.path.dirname(link)) for link in self.links()}
        self.assertEqual({"Bundlo"}, groups, "only the program group's shortcuts")

    def check_init_nothing(self, text):
        self.fresh_machine()
        self.assertEqual([0], [r.code for r in self.run_bat(text)])
        self.assertEqual((None, None), (self.associated(".bdl"), self.associated(".zip")))
        self.assertIsNone(self.prefix.reg_query(rf"HKCR\CLSID\{CLSID64}", None, 64))
        self.assertEqual([], self.links())
        self.assertIsNotNone(self.prefix.reg_query(APP_PATHS, ""))
        self.assertIsNotNone(self.prefix.reg_query(
            r"HKLM\Software\RegisteredApplications", "Bundlo", self.view()))
        self.assertIsNotNone(self.prefix.reg_query(ENTRY, "UninstallString", self.view()))

    def check_install(self, text):
        self.fresh_machine()
        self.assertEqual([0], [r.code for r in self.run_bat(text)])
        self.assertEqual("Bundlo.ZIP", self.associated(".zip"))
        self.assertIsNotNone(self.prefix.reg_query(ENTRY, "UninstallString", self.view()))

    def check_uninstall(self, text):
        program = self.fresh_machine()
        self.assertEqual(0, self.prefix.run(program, ["/setup", "/S"], timeout=120).code)
        self.assertEqual([0], [r.code for r in self.run_bat(text)])
        self.wait_gone(FOLDER)
        self.assertEqual((None, None), (self.associated(".zip"), self.prefix.reg_query(APP_PATHS)))
        self.assertIsNone(self.prefix.reg_query(ENTRY, None, self.view()))

    def check_sfxcmd(self, text):
        self.fresh_machine()
        # A setup that was not made silent would wait for its dialog and run out of time.
        self.assertEqual([0], [r.code for r in self.run_bat(text)])
        self.assertEqual("Bundlo.ZIP", self.associated(".zip"))

    def check_portable(self, text):
        self.fresh_machine(PORTABLE, listed=LISTED + ("Bundlo.ini",))
        ini = self.prefix.unix_path(PORTABLE + r"\Bundlo.ini")
        with open(ini, "w", encoding="utf-16") as f:
            f.write("Global\\Integration=0\r\n")
        setup, uninstall = self.run_bat(text)
        self.assertEqual((0, 0), (setup.code, uninstall.code))
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

    CHECKS = {
        "/setup /S /initA110000000000000000S1D0M0P1": check_init_own_formats,
        "/setup /S /initA000000000000000000S0D0M0P0": check_init_nothing,
        "/setup /S": check_install,
        "/S": check_uninstall,
        "set sfxcmd=/S": check_sfxcmd,
        "rem": check_portable,
        "WINEDEBUG=warn+seh": check_diagnostics,
    }

    def key(self, text):
        first = text.splitlines()[0]
        if first.startswith("set "):
            return first
        if first.startswith(("rem ", "WINEDEBUG=")):
            return first.split()[0]
        return " ".join(windows_arguments(first)[1])

    def test_every_example_of_the_guide_does_what_it_says(self):
        examples = readme_examples()
        keys = [self.key(text) for _, text in examples]
        self.assertEqual(sorted(self.CHECKS), sorted(keys), "examples without a check, or checks "
                         "without an example")
        for language, text in examples:
            with self.subTest(example=text):
                self.assertIn(language, ("bat", "sh"))
                self.CHECKS[self.key(text)](self, text)


if __name__ == "__main__":
    harness.main()
