"""The dialogs under a virtual display: their common prologue on real windows (gui/layout_test.exe:
localised texts, the size correction of the language file, right-to-left layout and help), and the
translators' kit (tools/lngkit.exe): the English reference it makes is the one kept in docs/, and
its checker finds what a translation gets wrong, texts cut off in their controls included."""
import os
import re

import harness

REFERENCE = os.path.join(harness.ROOT, "docs", "uninstall.lng")
FOLDER = r"C:\bdltest"


class DialogLayout(harness.ProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.kit = os.path.join(harness.BUILD, "tools", "lngkit.exe")
        os.makedirs(cls.prefix.unix_path(FOLDER), exist_ok=True)
        cls.display = harness.Display(cls.prefix)
        cls.display.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)

    def test_prologue_on_real_dialogs(self):
        program = os.path.join(harness.BUILD, "gui", "layout_test.exe")
        result = self.prefix.run(program, ["--gtest_brief=1"], timeout=300)
        self.assertEqual(0, result.code, result.stdout + result.stderr)
        self.assertIn("PASSED", result.stdout)

    def skip_in_all_but_one_preset(self):
        # The kit is the same program in both presets, and the 32-bit half of Wine may run
        # emulated: it is tested once.
        if os.path.basename(harness.BUILD) != "win64":
            self.skipTest("the translators' kit is tested in the win64 preset")

    def test_the_kept_reference_is_the_one_the_program_makes(self):
        self.skip_in_all_but_one_preset()
        made = FOLDER + r"\uninstall.lng"
        # The kit reads what it wrote back with the program's parser and fails when that would
        # change any text, size or direction of the program.
        result = self.prefix.run(self.kit, ["reference", made])
        self.assertEqual(0, result.code, result.stdout + result.stderr)
        with open(self.prefix.unix_path(made), "rb") as f:
            made_bytes = f.read()
        with open(REFERENCE, "rb") as f:
            kept_bytes = f.read()
        hint = "docs/uninstall.lng is not what the program makes: run make lng-reference"
        self.assertEqual(kept_bytes.decode("ascii").splitlines(),
                         made_bytes.decode("ascii").splitlines(), hint)
        self.assertEqual(kept_bytes, made_bytes, hint)

    def check(self, name, text):
        path = FOLDER + "\\" + name
        with open(self.prefix.unix_path(path), "w", newline="", encoding="ascii") as f:
            f.write(text)
        result = self.prefix.run(self.kit, ["check", path, name], timeout=300)
        return result.stdout, result.code

    def test_the_checker_names_each_fault_and_the_size_that_makes_the_text_fit(self):
        self.skip_in_all_but_one_preset()
        with open(REFERENCE, newline="") as f:
            english = f.read().split("\r\n")
        long_text = 'IDC_VIEWLICENSE "Read the &license agreement of Bundlo, all of it"'
        # Each fault replaces one line of the reference: what it was, what it becomes, and what
        # the checker says of that line.
        faults = [
            ("IDS_CONTINUEUNINSTALL ", "IDS_CONTINUEUNINSTAL ",
             "error: unknown key IDS_CONTINUEUNINSTAL in :STRINGS"),
            ('IDS_CANNOTOPENLIST "Cannot open %s.', 'IDS_CANNOTOPENLIST "Cannot open the list.',
             'error: IDS_CANNOTOPENLIST: "%s" is missing'),
            ('IDS_BUNDLOHELP "', 'IDS_BUNDLOHELP "../Startup/',
             "error: IDS_BUNDLOHELP: the program names a file with this text"),
            ('IDS_BETA "', '  IDS_BETA "', "warning: line ignored: an entry's key must begin"),
            ('IDC_LINKPROGRAMS "Create &program group"', 'IDC_LINKPROGRAMS "Create &desktop group"',
             'error: SETUPDLG IDC_LINKDESKTOP and IDC_LINKPROGRAMS: both have the access key "D"'),
            ('IDS_INSTHELP1 "', 'IDS_INSTHELP1 "' + "This sentence runs on and on. " * 30,
             "error: SETUPDLG explanation (IDS_INSTHELP1 to IDS_INSTHELP6): the text does not "
             "fit its control at 96 DPI"),
            ('IDC_VIEWLICENSE "View &license"', long_text,
             "error: DONEDLG IDC_VIEWLICENSE: the text does not fit its control at 96 DPI"),
        ]
        faulty = list(english)
        expected = []
        for was, becomes, said in faults:
            number = next(n for n, line in enumerate(english, 1) if line.startswith(was))
            faulty[number - 1] = becomes + english[number - 1][len(was):]
            expected.append(f"xx.lng:{number}: {said}")
        report, code = self.check("xx.lng", "\r\n".join(faulty))
        self.assertEqual(1, code, report)
        for line in expected:
            self.assertIn(line, report)
        self.assertIn("at 192 DPI", report)
        done = next(n for n, line in enumerate(english, 1) if line == ":DIALOG DONEDLG")
        size = next(n for n, line in enumerate(english, 1) if n > done and line.startswith("SIZE"))
        fix = re.search(rf"\nxx.lng:{size}: note: DONEDLG: SIZE (\d+)\*100 makes every text "
                        rf"fit at 96, 120, 144 and 192 DPI\n", report)
        self.assertIsNotNone(fix, report)
        # The text needs about twice the button's width, and nothing else needs more room.
        self.assertTrue(180 <= int(fix.group(1)) <= 230, report)
        self.assertIn("xx.lng: warning: :STRINGS lacks 1 text, shown in English: "
                      "IDS_CONTINUEUNINSTALL\n", report)
        self.assertIn("xx.lng: 6 errors, 2 warnings\n", report)

        fixed = [long_text if line.startswith("IDC_VIEWLICENSE ") else line for line in english]
        fixed[size - 1] = f"SIZE {fix.group(1)}*100"
        report, code = self.check("xx.lng", "\r\n".join(fixed))
        self.assertEqual(0, code, report)
        self.assertIn("xx.lng: 0 errors, 0 warnings\n", report)


if __name__ == "__main__":
    harness.main()
