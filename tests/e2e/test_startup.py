"""Start-up as a user or the uninstall batch file meets it: exit codes, /wait, the /warning box;
and the executable as it ships: stripped, system DLLs only, symbols beside it, signable, the same
bytes from every build of one tree."""
import hashlib
import os
import shutil
import subprocess
import tempfile

import harness


class StartUp(harness.ProgramTest):
    def test_a_switch_that_selects_nothing_ends_at_once_with_code_0(self):
        # "/? /S" too: an unattended run never waits on the summary's message box.
        # "/msix /S" too: only exactly /msi is an installer package's removal.
        for switches in (["/set"], ["/Sx"], ["/noexplorer"], ["/msi", "/initA1"], ["/?", "/S"],
                         ["/msix", "/S"]):
            result = self.prefix.run(self.program, switches, timeout=60)
            self.assertEqual(0, result.code, switches)
        # Nothing was set up or stored on the way.
        self.assertIsNone(self.prefix.reg_query(r"HKCU\Software\Bundlo"))

    def test_a_setup_whose_dialog_cannot_be_created_fails_with_code_1(self):
        # Without a display Wine creates no dialog at all, not even one that confirms itself.
        result = self.prefix.run(self.program, ["/setup", "/S"], timeout=60,
                                 env=harness.DIAGNOSTICS)
        self.assertEqual(1, result.code)
        self.assertEqual(1, len(result.diagnostics), result.diagnostics)
        self.assertRegex(result.diagnostics[0],
                         r"^Bundlo Uninstall: create the setup dialog: SETUPDLG: error [1-9]\d*$")
        self.assertIsNone(self.prefix.reg_query(r"HKCU\Software\Bundlo"))

    def test_wait_sleeps_two_seconds_then_ends(self):
        # Only a lower bound: the sleep guarantees it, while the start-up time around it varies
        # with the machine's load.
        result = self.prefix.run(self.program, ["/wait"], timeout=60)
        self.assertEqual(0, result.code)
        self.assertGreaterEqual(result.seconds, 2.0)

    def test_installer_variable_cannot_request_setup(self):
        # Only /S counts in sfxcmd; with a switch on the command line nothing is selected.
        result = self.prefix.run(self.program, ["/set"], env={"sfxcmd": "/setup /S"})
        self.assertEqual(0, result.code)


# What a Windows installation has without any runtime beside the program.
SYSTEM_DLLS = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "oleaut32.dll", "ole32.dll",
               "shell32.dll", "user32.dll", "msvcrt.dll", "comctl32.dll", "comdlg32.dll",
               "shlwapi.dll"}


def shipped_digests(folder):
    digests = {}
    for name in ("Uninstall.exe", "Uninstall.debug"):
        with open(os.path.join(folder, name), "rb") as f:
            digests[name] = hashlib.sha256(f.read()).hexdigest()
    return digests


class Shipped(harness.ProgramTest):
    def objdump(self, *args):
        machine = "i686" if os.path.basename(harness.BUILD) == "win32" else "x86_64"
        return subprocess.run([f"{machine}-w64-mingw32-objdump", *args, harness.EXE], check=True,
                              capture_output=True, text=True).stdout

    def test_stripped_small_with_system_imports_and_its_symbols_beside_it(self):
        self.assertLessEqual(os.path.getsize(harness.EXE), 512 * 1024)
        self.assertNotIn("SYMBOL TABLE:\n[", self.objdump("-t"), "symbols kept in the exe")
        imports = {line.split(":", 1)[1].strip().lower()
                   for line in self.objdump("-p").splitlines() if "DLL Name:" in line}
        self.assertTrue(imports and imports <= SYSTEM_DLLS, imports)
        self.assertIn(".gnu_debuglink", self.objdump("-h"))
        debug = os.path.join(os.path.dirname(harness.EXE), "Uninstall.debug")
        self.assertGreater(os.path.getsize(debug), os.path.getsize(harness.EXE))

    def test_signed_with_a_throwaway_certificate_and_verified(self):
        sign = os.path.join(harness.ROOT, "scripts", "sign.sh")
        with tempfile.TemporaryDirectory() as folder:
            cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days",
                            "1", "-subj", "/CN=Bundlo test signer", "-keyout", key, "-out", cert],
                           check=True, capture_output=True)
            exe = shutil.copy(harness.EXE, os.path.join(folder, "Uninstall.exe"))
            unsigned = subprocess.run([sign, exe], env={**os.environ, "CERT": "", "KEY": ""},
                                      check=True, capture_output=True, text=True)
            self.assertIn("nothing signed", unsigned.stdout)
            subprocess.run([sign, exe], env={**os.environ, "CERT": cert, "KEY": key},
                           check=True, capture_output=True)
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", exe],
                                      capture_output=True, text=True)
            self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)
            self.assertIn("Signature verification: ok", verified.stdout)
            # The signed program still runs.
            self.assertEqual(0, self.prefix.run(self.prefix.install(exe), ["/set"]).code)

    def test_two_builds_in_two_folders_are_the_bytes_under_test(self):
        if os.path.basename(harness.BUILD) != "win64":
            self.skipTest("built once, in the 64-bit run")
        # Copies of the tree (what the build sees: files tracked or new, not ignored) at paths of
        # different lengths, built one after the other, seconds apart: neither the build path nor
        # the clock may reach what ships.
        sources = subprocess.run(["git", "ls-files", "-z", "--cached", "--others",
                                  "--exclude-standard"], cwd=harness.ROOT, check=True,
                                 capture_output=True, text=True).stdout.split("\0")
        env = {k: v for k, v in os.environ.items()
               if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL", "SOURCE_DATE_EPOCH")}
        digests = [shipped_digests(os.path.dirname(harness.EXE))]
        with tempfile.TemporaryDirectory() as top:
            for tree in (os.path.join(top, "a"), os.path.join(top, "second", "copy")):
                for name in (n for n in sources if os.path.isfile(os.path.join(harness.ROOT, n))):
                    os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
                    shutil.copy2(os.path.join(harness.ROOT, name), os.path.join(tree, name))
                for step in (["--preset", "win64"],
                             ["--build", "--preset", "win64", "-j2", "--target", "Uninstall"]):
                    built = subprocess.run(["cmake", *step], cwd=tree, env=env,
                                           capture_output=True, text=True)
                    self.assertEqual(0, built.returncode, built.stdout + built.stderr)
                digests.append(shipped_digests(os.path.join(tree, "build", "win64")))
        self.assertEqual(digests[1], digests[2], "two builds differ")
        self.assertEqual(digests[0], digests[1], "the executable under test is not the one built")


class WarningBox(harness.ProgramTest):
    """The message boxes a run with a single switch shows: /warning, which the uninstall batch file
    uses when it could not delete the program, and /?."""

    def box_texts(self, switch, caption):
        """Runs the program with the switch, reads the box with that caption, closes it with OK
        and returns its texts; the program must then end with code 0."""
        with harness.Display(self.prefix):
            driver = harness.Driver(self.prefix)
            process = self.prefix.start(self.program, [switch])
            try:
                controls = driver.wait(caption, 60000)
                self.assertIsNotNone(controls, "no message box appeared: " + caption)
                self.assertTrue(driver.press(caption, 1))  # IDOK
                self.assertEqual(0, process.wait(timeout=60))
                return "\n".join(text for _, _, text in controls)
            finally:
                if process.poll() is None:
                    process.kill()

    def test_warning_names_the_program_and_closes_with_ok(self):
        texts = self.box_texts("/warning", "Uninstall Bundlo")
        self.assertIn("Bundlo has been removed from your computer.\n", texts)
        self.assertIn(r"The file C:\Program Files\Bundlo\Uninstall.exe could not be deleted", texts)

    def test_the_command_line_summary_shows_and_starts_nothing(self):
        texts = self.box_texts("/?", "Bundlo Setup")
        self.assertIn("/setup: register Bundlo with Windows", texts)
        self.assertIn("Exit codes: 0 done, 1 cancelled or failed, 8 out of memory, 3010 done and a "
                      "restart finishes the removal, 1618 another setup or removal is running.",
                      texts)
        self.assertIsNone(self.prefix.reg_query(r"HKCU\Software\Bundlo"))
        self.assertTrue(os.path.exists(self.prefix.unix_path(self.program)))

    def test_a_language_file_beside_the_program_translates_the_box(self):
        lng = self.prefix.unix_path(harness.PROGRAM_FOLDER + r"\uninstall.lng")
        with open(lng, "w", encoding="utf-16") as f:
            f.write("***messages***\r\n:STRINGS\r\n"
                    "IDS_UNINSTALLBDL \"[xx] Bundlo entfernen\"\r\n"
                    "IDS_UNINSTALLCOMPLETED \"[xx] Bundlo wurde entfernt.\"\r\n"
                    "IDS_UNINSTALLSHOULDDELETE \"[xx] Bitte %s selbst loeschen.\"\r\n")
        try:
            texts = self.box_texts("/warning", "[xx] Bundlo entfernen")
            self.assertIn("[xx] Bundlo wurde entfernt.\n", texts)
            self.assertIn("[xx] Bitte " + harness.PROGRAM_FOLDER + "\\Uninstall.exe selbst loeschen.",
                          texts)
        finally:
            os.remove(lng)


if __name__ == "__main__":
    harness.main()
