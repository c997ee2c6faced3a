"""The program's main promise: every extension goes back to what it was. Prior states such as
other programs leave them are seeded into HKEY_CLASSES_ROOT; every archive type is associated
(twice) and then released; the integration's keys must then equal the seeded ones, except for
the leftovers named in ALLOWED_CHANGES."""
import os

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


class RoundTrip(harness.ProgramTest):
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


if __name__ == "__main__":
    harness.main()
