"""The setup as the installer starts it: Uninstall.exe /setup in the program folder, unattended
or operated through its dialogs on a virtual display. What counts is what it leaves in the
registry and on disk, and its exit code. The Windows 11 behaviour of the dialogs, which Wine
cannot show, is checked by gui/setup_dialogs_test.exe under the same display."""
import os
import re
import struct
import time

import harness

FOLDER = harness.PROGRAM_FOLDER
SETUP = "Bundlo Setup"  # the caption of the settings dialog, the completion dialog and notices
ITEMS = "Context Menu Items"
CLASSES = "HKEY_CLASSES_ROOT"
PRODUCT = r"HKEY_CURRENT_USER\Software\Bundlo"
UNINSTALL = (r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
             r"\Bundlo archiver")
MACHINE = r"HKEY_LOCAL_MACHINE\Software\Bundlo"
APP_PATHS = (r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\App Paths"
             r"\Bundlo.exe")
HANDLER = CLASSES + r"\*\shellex\ContextMenuHandlers\Bundlo"
ID = harness.resource_ids()
TYPE_BOXES = range(ID["IDC_ASSOCBDL"], ID["IDC_ASSOC001"] + 1)
OK, CANCEL = ID["IDOK"], ID["IDCANCEL"]
ITEMS_BUTTON = ID["IDC_SETCONTEXTMENU"]  # opens the context menu items dialog
TEST_ITEM, MASK = ID["IDC_CONTEXTTEST"], ID["IDC_CONTEXTALWAYSARC"]
ESCAPE = 27


def program_view():
    """The registry as the program sees it: a 32-bit program on 64-bit Windows has its own view
    of some machine keys (the uninstall entry among them)."""
    with open(harness.EXE, "rb") as f:
        header = f.read(4096)
    pe = struct.unpack_from("<I", header, 0x3C)[0]
    return "/reg:32" if struct.unpack_from("<H", header, pe + 4)[0] == 0x14C else "/reg:64"


class SetupDriver(harness.Driver):
    """The GUI driver with several commands per process, each process start costing seconds."""

    def do(self, *commands):
        """Runs the commands (tuples) in one driver process; returns the printed blocks, or
        fails the calling test at the first command that fails."""
        args = []
        for command in commands:
            args += ["+"] if args else []
            args += [str(a) for a in command]
        done = self._run(*args)
        if done.code != 0:
            raise AssertionError("guidriver %s failed: %d" % (args, done.code))
        return done.stdout.split("\n\n")

    @staticmethod
    def states(block):
        """{id: (checked, enabled, visible)} from the block of a state command."""
        states = {}
        for line in block.strip().splitlines():
            id_, checked, enabled, visible = (int(x) for x in line.split("\t"))
            states[id_] = (checked, enabled, visible)
        return states

    @staticmethod
    def texts(block):
        """{id: text} from the block of a wait command."""
        return {int(p[0]): p[2] for p in (line.split("\t") for line in block.splitlines())
                if len(p) == 3}


class Setup(harness.ProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.place_files()
        cls.display = harness.Display(cls.prefix)
        cls.display.__enter__()
        cls.driver = SetupDriver(cls.prefix)

    @classmethod
    def place_files(cls):
        """The files the integration points to; their contents do not matter here."""
        for name in ("Bundlo.exe", "bdlext.dll", "bdlext64.dll"):
            with open(cls.prefix.unix_path(FOLDER + "\\" + name), "wb") as f:
                f.write(b"MZ placeholder")

    @classmethod
    def reinstall(cls):
        cls.prefix.install()
        cls.place_files()

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)

    def setUp(self):
        if getattr(Setup, "dirty", False):
            self.prefix.reset()
        Setup.dirty = True

    def query(self, *keys):
        """{key: {value name: data}} (lower case, "" for the default value) of the keys and
        every key below them, read by one command interpreter; missing keys are left out."""
        script = r"C:\bdltest\bdl_query.bat"
        with open(self.prefix.unix_path(script), "w") as f:
            f.write("@echo off\r\n" + "".join('reg query "%s" /s %s\r\n' % (k, program_view())
                                               for k in keys))
        done = self.prefix.run("cmd", ["/c", script], timeout=120)
        found, values = {}, None
        for line in done.stdout.splitlines():
            if line.startswith("HKEY_"):
                values = found.setdefault(line.strip().lower(), {})
                continue
            match = re.match(r"^    (.+?)    (REG_\w+)(?:    (.*))?$", line)
            if match and values is not None:
                name = match.group(1).lower()
                values["" if name == "(default)" else name] = (match.group(3) or "").rstrip()
        return found

    def value(self, found, key, name=""):
        return found.get(key.lower(), {}).get(name.lower())

    def start_setup(self, *switches, env=None):
        process = self.prefix.start(self.program, ["/setup", *switches], env=env, cwd=FOLDER)
        self.addCleanup(self.end, process)
        return process

    @staticmethod
    def end(process):
        """A run that a failed test left waiting for input goes; the display takes its windows."""
        if process.poll() is None:
            process.kill()
            process.wait(timeout=30)

    def test_unattended_setup_applies_the_stored_choices_under_the_init_text(self):
        self.prefix.reg_import(r"""
[HKEY_CURRENT_USER\Software\Bundlo\Setup\.7z]
"Set"=dword:00000000
[HKEY_CURRENT_USER\Software\Bundlo\Setup\Links]
"StartMenu"=dword:00000001
[HKEY_CLASSES_ROOT\.ace]
@="Bundlo"
[HKEY_CURRENT_USER\Software\Bundlo\Setup\.ace]
"Exist"=dword:00000001
"Type"="AceFile"
""")
        desktop_link = self.prefix.unix_path(r"C:\users\Public\Desktop\Bundlo.lnk")
        result = self.prefix.run(self.program, ["/setup", "/S", "/initA0110S0D1"], cwd=FOLDER,
                                 timeout=180)
        self.assertEqual(0, result.code)
        keys = [CLASSES + "\\" + e for e in (".bdl", ".zip", ".cab", ".arj", ".7z", ".tar", ".ace")]
        found = self.query(PRODUCT, UNINSTALL, HANDLER, *keys)
        setup = PRODUCT + r"\Setup"
        # The /init text over the stored choices, and the stored ones it does not name.
        for extension, flag in ((".bdl", "0x0"), (".zip", "0x1"), (".cab", "0x1"), (".arj", "0x0"),
                                (".7z", "0x0"), (".tar", "0x1")):
            self.assertEqual(flag, self.value(found, setup + "\\" + extension, "Set"), extension)
        self.assertEqual("0x0", self.value(found, setup, "ShellExt"))
        self.assertEqual("0x1", self.value(found, setup + r"\Links", "Desktop"))
        self.assertEqual("0x1", self.value(found, setup + r"\Links", "StartMenu"))
        # ... applied.
        self.assertEqual("Bundlo.ZIP", self.value(found, CLASSES + r"\.zip"))
        self.assertEqual("Bundlo", self.value(found, CLASSES + r"\.cab"))
        self.assertEqual("Bundlo", self.value(found, CLASSES + r"\.tar"))
        self.assertIsNone(self.value(found, CLASSES + r"\.bdl"))
        self.assertIsNone(self.value(found, CLASSES + r"\.7z"))
        self.assertNotIn(HANDLER.lower(), found)
        self.assertTrue(os.path.exists(desktop_link))
        # An ".ace" of an earlier version goes back to its previous owner.
        self.assertEqual("AceFile", self.value(found, CLASSES + r"\.ace"))
        self.assertTrue(self.value(found, UNINSTALL, "DisplayName").startswith("Bundlo 6.11"))
        self.assertEqual(FOLDER + r"\Uninstall.exe",
                         self.value(found, UNINSTALL, "UninstallString").strip('"'))

        # The installer's variable makes a run silent too; now the stored choices alone count.
        self.prefix.reg_import("[%s\\Setup]\n\"ShellExt\"=dword:00000001\n" % PRODUCT)
        result = self.prefix.run(self.program, ["/setup"], env={"sfxcmd": "/S"}, cwd=FOLDER,
                                 timeout=180)
        self.assertEqual(0, result.code)
        found = self.query(HANDLER, CLASSES + r"\.bdl", CLASSES + r"\.zip")
        self.assertIn(HANDLER.lower(), found)
        self.assertIsNone(self.value(found, CLASSES + r"\.bdl"))
        self.assertEqual("Bundlo.ZIP", self.value(found, CLASSES + r"\.zip"))

    def test_cancel_and_esc_apply_nothing_but_confirmed_menu_items_stay(self):
        process = self.start_setup()
        self.assertIsNotNone(self.driver.wait(SETUP, 60000), "no settings dialog")
        # Changes made and then cancelled in the items dialog leave nothing behind.
        blocks = self.driver.do(("press", SETUP, ITEMS_BUTTON), ("wait", ITEMS, 30000),
                                ("state", ITEMS), ("check", ITEMS, TEST_ITEM, 1),
                                ("settext", ITEMS, MASK, ""), ("press", ITEMS, CANCEL),
                                ("gone", ITEMS, 10000))
        self.assertEqual("*.iso", SetupDriver.texts(blocks[0])[MASK])
        states = SetupDriver.states(blocks[1])
        # Windows 10: the classic items, not the top-level ones.
        for id_ in range(ID["IDC_CONTEXTEXTRACTTO"], ID["IDC_CONTEXTCONVERT"] + 1):
            self.assertEqual(1, states[id_][2], id_)
        for id_ in range(ID["IDC_CONTEXTTOPEXTRACT"], ID["IDC_CONTEXTTOPADD"] + 1):
            self.assertEqual(0, states[id_][2], id_)
        self.assertEqual(0, states[TEST_ITEM][0])  # "Test" is off unless chosen
        self.assertEqual({}, self.query(PRODUCT))

        # Confirmed, the items are stored at once, an emptied mask field as the empty text.
        blocks = self.driver.do(("press", SETUP, ITEMS_BUTTON), ("wait", ITEMS, 30000),
                                ("check", ITEMS, TEST_ITEM, 1), ("settext", ITEMS, MASK, ""),
                                ("press", ITEMS, OK), ("gone", ITEMS, 10000),
                                ("press", SETUP, ITEMS_BUTTON), ("wait", ITEMS, 30000),
                                ("state", ITEMS), ("press", ITEMS, CANCEL), ("gone", ITEMS, 10000))
        self.assertEqual("", SetupDriver.texts(blocks[1])[MASK])
        self.assertEqual(1, SetupDriver.states(blocks[2])[TEST_ITEM][0])

        self.driver.do(("press", SETUP, CANCEL))
        self.assertEqual(1, process.wait(timeout=60))
        # The unpacked program stays removable: its uninstall entry is written, after Esc too.
        command = self.value(self.query(UNINSTALL), UNINSTALL, "UninstallString")
        self.assertEqual('"%s"' % self.program, command)
        self.assertEqual(0, self.prefix.run("reg", ["delete", UNINSTALL, "/f",
                                                    program_view()]).code)
        process = self.start_setup()
        self.driver.do(("wait", SETUP, 60000), ("key", SETUP, ESCAPE))
        self.assertEqual(1, process.wait(timeout=60))

        found = self.query(PRODUCT, UNINSTALL, CLASSES + r"\.zip", MACHINE, APP_PATHS)
        items = PRODUCT + r"\Setup\MenuItems"
        self.assertEqual("0x1", self.value(found, items, "Test"))
        self.assertEqual("", self.value(found, items, "AlwaysArc"))
        # Only the items and the entry were stored: no choice of the settings dialog, nothing
        # applied, no record, and Windows 10 shows no top-level items to store.
        self.assertEqual({items.lower(), UNINSTALL.lower()},
                         {key for key, values in found.items() if values})
        self.assertEqual(command, self.value(found, UNINSTALL, "UninstallString"))

        # With no record of an installation, the entry's command still removes it all.
        self.addCleanup(self.reinstall)
        with open(self.prefix.unix_path(FOLDER + r"\Uninstall.lst"), "w") as f:
            f.write("Bundlo.exe\r\nbdlext.dll\r\nbdlext64.dll\r\nUninstall.exe\r\n")
        self.assertEqual(0, self.prefix.run(self.program, ["/S"], cwd="C:\\", timeout=180).code)
        self.assertEqual({}, self.query(UNINSTALL))
        self.assertFalse(os.path.exists(self.prefix.unix_path(FOLDER + r"\Bundlo.exe")))

        # The entry of an installation in another folder is not this cancelled copy's to write.
        self.reinstall()
        self.assertEqual(0, self.prefix.run("reg", ["add", MACHINE + r"\Setup", "/v", "Folder",
                                                    "/d", r"C:\Elsewhere", "/f", "/reg:64"]).code)
        self.addCleanup(self.prefix.run, "reg", ["delete", MACHINE, "/f", "/reg:64"])
        process = self.start_setup()
        self.driver.do(("wait", SETUP, 60000), ("key", SETUP, ESCAPE))
        self.assertEqual(1, process.wait(timeout=60))
        self.assertEqual({}, self.query(UNINSTALL))

    def test_choices_made_in_the_dialog_are_applied_and_the_completion_dialog_ends_it(self):
        # Text files "open" by leaving a copy where the test can read which file it was.
        self.prefix.reg_import(r"""
[HKEY_CLASSES_ROOT\.txt]
@="txtfile"
[HKEY_CLASSES_ROOT\txtfile\shell\open\command]
@="C:\\windows\\system32\\cmd.exe /c copy \"%1\" C:\\bdltest\\opened.txt"
[HKEY_CURRENT_USER\Software\Bundlo\General]
"LanguageFolder"="C:\\bdllang"
""")
        licences = {FOLDER + r"\license.txt": "English licence",
                    r"C:\bdllang\license.txt": "[xx] Lizenz"}
        for path, text in licences.items():
            os.makedirs(os.path.dirname(self.prefix.unix_path(path)), exist_ok=True)
            with open(self.prefix.unix_path(path), "w") as f:
                f.write(text)
        opened = self.prefix.unix_path(r"C:\bdltest\opened.txt")
        if os.path.exists(opened):
            os.remove(opened)
        added = self.prefix.run("reg", ["add", UNINSTALL, "/v", "DisplayName", "/d",
                                        "Packaged Bundlo", "/f", program_view()])
        self.assertEqual(0, added.code)
        # /msi: the installer package owns the uninstall entry, and no completion dialog waits.
        process = self.start_setup("/msi", "/S")
        self.assertEqual(0, process.wait(timeout=180))
        found = self.query(UNINSTALL, CLASSES + r"\.zip")
        self.assertEqual({"displayname": "Packaged Bundlo"}, found[UNINSTALL.lower()])
        self.assertEqual("Bundlo.ZIP", self.value(found, CLASSES + r"\.zip"))

        # Only ".lz" from the /init text; its box is not in table order.
        process = self.start_setup("/noexplorer", "/initA" + "0000" + "1" + "0" * 13)
        blocks = self.driver.do(("wait", SETUP, 60000), ("state", SETUP),
                                ("check", SETUP, ID["IDC_SHELLEXT"], 0), ("state", SETUP),
                                ("check", SETUP, ID["IDC_SHELLEXT"], 1), ("state", SETUP),
                                ("click", SETUP, ID["IDC_ASSOCALL"]), ("state", SETUP),
                                ("click", SETUP, ID["IDC_ASSOCALL"]), ("state", SETUP),
                                ("check", SETUP, ID["IDC_ASSOCXZ"], 1),
                                ("check", SETUP, ID["IDC_ASSOCLZ"], 1),
                                ("check", SETUP, ID["IDC_LINKPROGRAMS"], 0), ("press", SETUP, OK))
        first, off, on, all_on, all_off = (SetupDriver.states(b) for b in blocks[1:6])
        self.assertEqual([ID["IDC_ASSOCLZ"]], [i for i in TYPE_BOXES if first[i][0]])
        # The menu options follow the shell box; the classic menu is for Windows 11 only.
        shell, options = ID["IDC_SHELLEXT"], (ID["IDC_SHELLCASCADED"], ID["IDC_SHELLICONS"],
                                               ID["IDC_SHELLLEGACYMENU"])
        self.assertEqual([(1, 1), (0, 0)], [first[i][:2] for i in (shell, options[2])])
        self.assertEqual([0, 0, 0], [off[i][1] for i in options])
        self.assertEqual([1, 1, 0], [on[i][1] for i in options])
        self.assertEqual([1] * 18, [all_on[i][0] for i in TYPE_BOXES])
        self.assertEqual([0] * 18, [all_off[i][0] for i in TYPE_BOXES])

        blocks = self.driver.do(("wait", SETUP, 120000, ID["IDC_INSTINFOFOLDERTEXT"], "Edit"))
        self.assertEqual(FOLDER, SetupDriver.texts(blocks[0])[ID["IDC_INSTINFOFOLDERTEXT"]])
        # The choices are applied before the completion dialog opens.
        found = self.query(PRODUCT + r"\Setup", UNINSTALL,
                           *(CLASSES + "\\" + e for e in (".lz", ".tlz", ".xz", ".txz", ".zip")))
        for extension in (".lz", ".tlz", ".xz", ".txz"):
            self.assertEqual("Bundlo", self.value(found, CLASSES + "\\" + extension), extension)
        self.assertNotEqual("Bundlo.ZIP", self.value(found, CLASSES + r"\.zip"))
        self.assertEqual("0x0", self.value(found, PRODUCT + r"\Setup\.zip", "Set"))
        self.assertEqual("0x0", self.value(found, PRODUCT + r"\Setup\Links", "Programs"))
        self.assertEqual(FOLDER + r"\Uninstall.exe",
                         self.value(found, UNINSTALL, "UninstallString").strip('"'))

        # Every run under this Wine is elevated: the licence comes from the program folder, not
        # from the folder the user chose, and the desktop's shell opens it.
        self.driver.do(("press", SETUP, ID["IDC_VIEWLICENSE"]))
        for _ in range(60):
            if os.path.exists(opened):
                break
            time.sleep(0.5)
        with open(opened) as f:
            self.assertEqual("English licence", f.read())

        self.driver.do(("press", SETUP, OK))
        if program_view() == "/reg:32":
            # A 32-bit archiver on 64-bit Windows is worth a word after the completion dialog.
            blocks = self.driver.do(("wait", SETUP, 30000, 65535, "Static"), ("press", SETUP, OK))
            self.assertIn("32-bit version", SetupDriver.texts(blocks[0])[65535])
        self.assertEqual(0, process.wait(timeout=60))

    def test_windows_11_behaviour_of_the_dialogs(self):
        program = os.path.join(harness.BUILD, "gui", "setup_dialogs_test.exe")
        result = self.prefix.run(program, ["--gtest_brief=1"], timeout=300)
        self.assertEqual(0, result.code, result.stdout + result.stderr)
        self.assertIn("PASSED", result.stdout)


if __name__ == "__main__":
    harness.main()
