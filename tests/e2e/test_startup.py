"""Start-up as a user or the uninstall batch file meets it: exit codes, /wait, the /warning box."""
import os

import harness


class StartUp(harness.ProgramTest):
    def test_a_switch_that_selects_nothing_ends_at_once_with_code_0(self):
        for switches in (["/set"], ["/Sx"], ["/noexplorer"], ["/msi", "/initA1"]):
            result = self.prefix.run(self.program, switches, timeout=60)
            self.assertEqual(0, result.code, switches)
        # Nothing was set up or stored on the way.
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


class WarningBox(harness.ProgramTest):
    """The uninstall batch file runs the program with /warning when it could not delete it."""

    def test_warning_names_the_program_and_closes_with_ok(self):
        with harness.Display(self.prefix):
            driver = harness.Driver(self.prefix)
            process = self.prefix.start(self.program, ["/warning"])
            try:
                controls = driver.wait("Uninstall Bundlo", 60000)
                self.assertIsNotNone(controls, "no message box appeared")
                texts = "\n".join(text for _, _, text in controls)
                self.assertIn("Bundlo has been removed from your computer.\n", texts)
                self.assertIn(r"The file C:\Program Files\Bundlo\Uninstall.exe could not be deleted",
                              texts)
                self.assertTrue(driver.press("Uninstall Bundlo", 1))  # IDOK
                self.assertEqual(0, process.wait(timeout=60))
            finally:
                if process.poll() is None:
                    process.kill()

    def test_a_language_file_beside_the_program_translates_the_box(self):
        lng = self.prefix.unix_path(harness.PROGRAM_FOLDER + r"\uninstall.lng")
        with open(lng, "w", encoding="utf-16") as f:
            f.write("***messages***\r\n:STRINGS\r\n"
                    "IDS_UNINSTALLBDL \"[xx] Bundlo entfernen\"\r\n"
                    "IDS_UNINSTALLCOMPLETED \"[xx] Bundlo wurde entfernt.\"\r\n"
                    "IDS_UNINSTALLSHOULDDELETE \"[xx] Bitte %s selbst loeschen.\"\r\n")
        try:
            with harness.Display(self.prefix):
                driver = harness.Driver(self.prefix)
                process = self.prefix.start(self.program, ["/warning"])
                try:
                    controls = driver.wait("[xx] Bundlo entfernen", 60000)
                    self.assertIsNotNone(controls, "no translated message box appeared")
                    texts = "\n".join(text for _, _, text in controls)
                    self.assertIn("[xx] Bundlo wurde entfernt.\n", texts)
                    self.assertIn("[xx] Bitte " + harness.PROGRAM_FOLDER +
                                  "\\Uninstall.exe selbst loeschen.", texts)
                    self.assertTrue(driver.press("[xx] Bundlo entfernen", 1))
                    self.assertEqual(0, process.wait(timeout=60))
                finally:
                    if process.poll() is None:
                        process.kill()
        finally:
            os.remove(lng)


if __name__ == "__main__":
    harness.main()
