"""The program's main promise: the machine goes back to what it was. Prior states such as other
programs leave them are seeded; then every archive type is associated and released
(AssociationRoundTrip), or the real setup and the real uninstall run (WholeRoundTrip); the
registry and the shell folders must then equal what was seeded, except for the leftovers each
test names."""
import os
import time

import harness

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
@="SevenZip.7z"
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


MACHINE_SEED = r"""
[HKEY_CLASSES_ROOT\.zip]
@="CompressedFolder"
[HKEY_CLASSES_ROOT\.zip\ShellNew]
"Data"=hex:50,4b,05,06,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00
"ItemName"=hex(2):40,00,25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,\
  5c,00,7a,00,69,00,70,00,66,00,6c,00,64,00,72,00,2e,00,64,00,6c,00,6c,00,2c,00,2d,00,31,00,00,00
[HKEY_CLASSES_ROOT\.bdl]
@="Other.Bdl"
[HKEY_CLASSES_ROOT\.bdl\ShellNew]
"Command"="other.exe /new \"%1\""
[HKEY_CLASSES_ROOT\.7z]
@="SevenZip.7z"
[HKEY_CLASSES_ROOT\.iso]
@="Windows.IsoFile"
[HKEY_CLASSES_ROOT\.jar]
@="jarfile"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\Bundlo archiver]
"DisplayIcon"="C:\\windows\\notepad.exe"
"""
CLSID32 = "{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F01}"
CLSID64 = "{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F02}"
UNINSTALL_ENTRY = r"microsoft\windows\currentversion\uninstall\bundlo archiver"
SHELL_FOLDERS = [r"C:\users\Public\Desktop", r"C:\ProgramData\Microsoft\Windows\Start Menu",
                 r"C:\users\{user}\Desktop",
                 r"C:\users\{user}\AppData\Roaming\Microsoft\Windows\Start Menu"]


def deep_key(base, length):
    """A key path of exactly `length` characters below `base`, in names short enough to be
    enumerated: at such lengths a walk that joins names into a fixed buffer once cut the child's
    path back to its parent's and never ended."""
    path, n = base, 0
    while len(path) < length:
        room = length - len(path) - 1
        name = chr(ord("a") + n % 26) * min(99, room)
        if room > 99 and room - 99 < 2:
            name = name[:97]  # leaves room for a last name of its own
        path += "\\" + name
        n += 1
    assert len(path) == length, (len(path), length)
    return path


# Keys that another program of the user (or a damaged earlier run) may leave where the uninstall
# deletes whole trees; each has a sub-key.
PRODUCT_KEY, ZIP_CLASS = r"Software\Bundlo", "Bundlo.ZIP"
DEEP_SEED = "".join("[HKEY_CURRENT_USER\\%s\\child]\n" % deep_key(PRODUCT_KEY, n)
                    for n in (510, 511, 512)) + \
    "".join("[HKEY_CLASSES_ROOT\\%s\\child]\n" % deep_key(ZIP_CLASS, n) for n in (511, 512))


def integration_key(path):
    """The keys of HKEY_CLASSES_ROOT the setup may touch: the extensions and classes, and every
    shell handler key that names the archiver or its shell extension."""
    return (path.split("\\", 1)[0] in harness.watched_class_keys() or "bundlo" in path or
            "5c0e3a71" in path)


def outside_wine(path):
    # Wine keeps its own state here and changes it as it runs; the classes are compared through
    # HKEY_CLASSES_ROOT.
    if path.startswith("wow6432node\\"):
        path = path[len("wow6432node\\"):]
    return path.split("\\", 1)[0] not in ("wine", "classes")


class WholeRoundTrip(harness.ProgramTest):
    def machine(self):
        user = os.environ.get("USER", "root")
        files = set()
        for folder in SHELL_FOLDERS:
            base = self.prefix.unix_path(folder.format(user=user))
            for top, _, names in os.walk(base):
                files.update(os.path.join(folder, os.path.relpath(os.path.join(top, n), base))
                             for n in names)
        return {
            "HKCR": self.prefix.registry_snapshot("HKCR", integration_key),
            r"HKCU\Software": self.prefix.registry_snapshot(r"HKCU\Software", outside_wine),
            r"HKLM\Software": self.prefix.registry_snapshot(r"HKLM\Software", outside_wine),
            "shell folders": files,
        }

    def test_real_setup_then_real_uninstall_leaves_the_machine_as_before(self):
        # The earlier uninstall entry sits in the registry view of the program under test.
        view = 64 if os.path.basename(harness.BUILD) == "win64" else 32
        self.prefix.reg_import(MACHINE_SEED, view)
        self.prefix.reg_import(DEEP_SEED)
        user = os.environ.get("USER", "root")
        desktop = self.prefix.unix_path(rf"C:\users\{user}\Desktop\Bundlo.lnk")
        with open(desktop, "wb") as f:
            f.write(b"an older shortcut")  # the user's own desktop shortcut to the archiver
        folder = self.prefix.unix_path(harness.PROGRAM_FOLDER)
        for name in ("Bundlo.exe", "bdlext.dll", "bdlext64.dll", "Bundlo.chm", "Bdl.txt"):
            with open(os.path.join(folder, name), "w") as f:
                f.write("placeholder")
        with open(os.path.join(folder, "Uninstall.lst"), "w") as f:
            f.write("Bundlo.exe\r\nbdlext.dll\r\nbdlext64.dll\r\nBundlo.chm\r\nBdl.txt\r\n"
                    "bdlnew.dat\r\nzipnew.dat\r\nUninstall.exe\r\n")
        before = self.machine()

        # Wine creates even the dialogs that confirm themselves (/S) only with a display.
        with harness.Display(self.prefix):
            setup = self.prefix.run(self.program, ["/setup", "/S", "/initD1M1P1"], timeout=180,
                                    env=harness.DIAGNOSTICS)
            self.assertEqual((0, []), (setup.code, setup.diagnostics))
            self.assertEqual("Bundlo.ZIP", self.prefix.reg_query(r"HKCR\.zip", ""))
            # Whichever build runs, each extension's server sits in the view of its own bitness.
            for clsid, dll, bits in ((CLSID32, "bdlext.dll", 32), (CLSID64, "bdlext64.dll", 64)):
                server = self.prefix.reg_query(rf"HKCR\CLSID\{clsid}\InProcServer32", "", bits)
                self.assertEqual(harness.PROGRAM_FOLDER + "\\" + dll, server, bits)
            uninstall = self.prefix.run(self.program, ["/S"], timeout=180,
                                        env=harness.DIAGNOSTICS)
            self.assertEqual((0, []), (uninstall.code, uninstall.diagnostics))
            start = time.monotonic()
            while os.path.exists(folder) and time.monotonic() - start < 60:
                time.sleep(0.5)
        self.assertFalse(os.path.exists(folder), "the program folder is still there")
        after = self.machine()

        # The leftovers and removals the program stands by, each named:
        expected = {area: (dict(v) if isinstance(v, dict) else set(v))
                    for area, v in before.items()}
        # The product key and the archiver's classes go as whole trees, however deep.
        for area, top in ((r"HKCU\Software", "bundlo"), ("HKCR", "bundlo.zip")):
            for key in [k for k in expected[area] if k == top or k.startswith(top + "\\")]:
                del expected[area][key]
        # The old volume extensions take the class ".bdl" had before, as in the association
        # round trip.
        for n in range(30):
            expected["HKCR"][".b%02d" % n] = {"": '"Other.Bdl"'}
        # The uninstall entry that an earlier installation left is removed with the program.
        own_view = "" if view == 64 else "wow6432node\\"
        expected[r"HKLM\Software"].pop(own_view + UNINSTALL_ENTRY, None)
        # Every Windows has the Default Programs list's key; the prefix did not, and the removal
        # takes the archiver's value out of it, not the key.
        for key in ("registeredapplications", "wow6432node\\registeredapplications"):
            if after[r"HKLM\Software"].get(key) == {}:
                expected[r"HKLM\Software"].setdefault(key, {})
        # The user's own desktop shortcut to the archiver goes with the archiver.
        expected["shell folders"].discard(os.path.join(SHELL_FOLDERS[2], "Bundlo.lnk"))
        for area in ("HKCR", r"HKCU\Software", r"HKLM\Software"):
            with self.subTest(area=area):
                missing = sorted(set(expected[area]) - set(after[area]))
                extra = sorted(set(after[area]) - set(expected[area]))
                self.assertEqual(([], []), (missing, extra), "keys gone, keys left over")
                for key in sorted(expected[area]):
                    self.assertEqual(expected[area][key], after[area][key], key)
        self.assertEqual(sorted(expected["shell folders"]), sorted(after["shell folders"]))


if __name__ == "__main__":
    harness.main()
