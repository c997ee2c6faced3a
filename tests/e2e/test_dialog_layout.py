"""The dialogs' common prologue on real windows under a virtual display: localised texts, the
size correction of the language file, right-to-left layout and help (gui/layout_test.exe)."""
import os

import harness


class DialogLayout(harness.ProgramTest):
    def test_prologue_on_real_dialogs(self):
        program = os.path.join(harness.BUILD, "gui", "layout_test.exe")
        with harness.Display(self.prefix):
            result = self.prefix.run(program, ["--gtest_brief=1"], timeout=300)
        self.assertEqual(0, result.code, result.stdout + result.stderr)
        self.assertIn("PASSED", result.stdout)


if __name__ == "__main__":
    harness.main()
