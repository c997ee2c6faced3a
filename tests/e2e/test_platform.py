"""The Windows version and the WMI answer as the program sees them under each Windows version the
prefix can present. Both are read when a process starts, so every setting needs a process of its
own: the unit tests of the same build (unit/system_test/system_test.exe) run with the prefix
set and BDL_PREFIX_WINDOWS naming the setting."""
import os
import re
import unittest

import harness


def test_exe(name):
    """A unit test program of the same build; each has a folder of its own."""
    return os.path.join(harness.BUILD, "unit", os.path.splitext(name)[0], name)


class PrefixWindowsVersion(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.Prefix()
        cls.prefix.reset()

    @classmethod
    def tearDownClass(cls):
        cls.prefix.reset()

    def set_windows(self, setting):
        done = self.prefix.run("reg", ["add", r"HKCU\Software\Wine", "/v", "Version", "/d",
                                       setting, "/f"])
        self.assertEqual(0, done.code, done.stderr)

    def run_prefix_tests(self, setting):
        self.assertTrue(os.path.isfile(test_exe("system_test.exe")),
                        "build the system_test target")
        self.set_windows(setting)
        # The prefix-dependent tests are disabled in plain runs; they need this setting.
        args = ["--gtest_also_run_disabled_tests", "--gtest_filter=PrefixSetting.*"]
        result = self.prefix.run(test_exe("system_test.exe"), args,
                                 env={"BDL_PREFIX_WINDOWS": setting}, timeout=300)
        report = result.stdout + result.stderr
        self.assertEqual(0, result.code, report)
        # All three must have run: a filter that matches nothing passes as well.
        passed = re.search(r"\[  PASSED  \] (\d+) tests?", report)
        self.assertIsNotNone(passed, report)
        self.assertEqual(3, int(passed.group(1)), report)

    def test_windows_7_then_windows_10(self):
        # Windows 7 first: the prefix was made with Windows 10, so a setting that did not take
        # would show as a wrong version rather than pass.
        for setting in ("win7", "win10"):
            with self.subTest(setting=setting):
                self.run_prefix_tests(setting)

    def test_the_program_carries_the_manifest_the_tests_ran_with(self):
        # The Windows 10 answer depends on the manifest, so it holds for Uninstall.exe only if
        # its manifest is the one linked into the unit tests.
        with open(os.path.join(harness.ROOT, "resources", "Uninstall.manifest"), "rb") as f:
            manifest = f.read()
        self.assertIn(b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", manifest)
        for exe in (harness.EXE, test_exe("system_test.exe")):
            with open(exe, "rb") as f:
                self.assertIn(manifest, f.read(), exe)


if __name__ == "__main__":
    harness.main()
