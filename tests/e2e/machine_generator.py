"""Prior machines made from a seed, for the round trip of the real setup and the real uninstall
(test_roundtrip.py's WholeRoundTrip with a fixed seed, tests/fuzz/machines.py with many):
other programs' owners of random extensions, "New" entries in their forms, keys without a
class, volume extensions and ".rev" of other programs, an earlier uninstall entry, shortcuts the
user already has, the saved state of an earlier installation, deep keys where the uninstall
deletes whole trees, and now and then a portable copy. Each machine also brings the /init text of
its setup, and the state the round trip must leave: the machine as it was, but for the leftovers
and removals the program stands by, each named in expected()."""
import os
import random
import shutil

EXTENSIONS = (".bdl .zip .cab .arj .lz .tlz .lzh .lha .7z .tar .gz .tgz .uue .xxe .uu .bz2 .tbz2 "
              ".bz .tbz .jar .iso .z .taz .xz .txz .zipx .zst .tzst .001").split()
# The archive types in the order of the /init text's A digits, each with its extensions.
TYPES = [[".bdl"], [".zip"], [".cab"], [".arj"], [".lz", ".tlz"], [".lzh", ".lha"], [".7z"],
         [".tar"], [".gz", ".tgz"], [".uue", ".xxe", ".uu"], [".bz2", ".tbz2", ".bz", ".tbz"],
         [".jar"], [".iso"], [".z", ".taz"], [".xz", ".txz"], [".zipx"], [".zst", ".tzst"],
         [".001"]]
UNINSTALL_ENTRY = r"microsoft\windows\currentversion\uninstall\bundlo archiver"
SHELL_FOLDERS = [r"C:\users\Public\Desktop", r"C:\ProgramData\Microsoft\Windows\Start Menu",
                 r"C:\users\{user}\Desktop",
                 r"C:\users\{user}\AppData\Roaming\Microsoft\Windows\Start Menu"]
# Where the vendor's installer lies: its "Bundlo.ini" beside it is imported by the setup.
VENDOR_INSTALLER = r"C:\users\Public\Downloads\BundloSetup.exe"
USER_DESKTOP, COMMON_DESKTOP = SHELL_FOLDERS[2], SHELL_FOLDERS[0]
COMMON_START_MENU, USER_START_MENU = SHELL_FOLDERS[1], SHELL_FOLDERS[3]


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_hex(data, kind=""):
    return "hex%s:%s" % (kind, ",".join("%02x" % b for b in data))


def utf16z(text):
    return (text + "\0").encode("utf-16-le")


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


class Machine:
    """One prior machine. `keys` are HKEY_CLASSES_ROOT and HKEY_CURRENT_USER keys ({path: {name:
    data}}, data in the .reg form), `machine_keys` those of HKEY_LOCAL_MACHINE\\Software, written
    in the registry view of the program under test; `files` are (Windows path, bytes)."""

    def __init__(self, seed, base=False, other_account=None, vendor=None, switch_build=None):
        """base: the machine test_roundtrip.py has always checked comes first, and the setup
        keeps its choices (/initD1M1P1); the generated part goes on top of it. The three fleet
        dimensions are drawn unless given: another account removes the program (the installing
        user's key is gone by then), the vendor's "Bundlo.ini" with Global\\Integration=0 or 1
        lies beside the installer, the other build removes what this one set up."""
        self.seed = seed
        r = random.Random(seed)
        self.keys, self.machine_keys, self.files = {}, {}, []
        self.notes = []
        self.portable = not base and r.random() < 0.2
        draw = not base and not self.portable
        self.other_account = other_account if other_account is not None else \
            draw and r.random() < 0.3
        self.vendor = vendor if vendor is not None else \
            (r.choice(["0", "1"]) if draw and r.random() < 0.3 else None)
        self.switch_build = switch_build if switch_build is not None else \
            draw and r.random() < 0.3
        self.deep = base or r.random() < 0.3
        self.owned_earlier = {}  # extension -> (existed, saved class) of an earlier installation

        def key(path, **values):
            self.keys.setdefault(path, {}).update(values)

        if base:
            # The machine test_roundtrip.py has always checked.
            key(r"HKEY_CLASSES_ROOT\.zip", **{"@": reg_string("CompressedFolder")})
            key(r"HKEY_CLASSES_ROOT\.zip\ShellNew",
                Data=reg_hex(bytes([0x50, 0x4b, 5, 6]) + bytes(18)),
                ItemName=reg_hex(utf16z(r"@%SystemRoot%\zipfldr.dll,-1"), "(2)"))
            key(r"HKEY_CLASSES_ROOT\.bdl", **{"@": reg_string("Other.Bdl")})
            key(r"HKEY_CLASSES_ROOT\.bdl\ShellNew", Command=reg_string('other.exe /new "%1"'))
            key(r"HKEY_CLASSES_ROOT\.7z", **{"@": reg_string("Other.7z")})
            key(r"HKEY_CLASSES_ROOT\.iso", **{"@": reg_string("Windows.IsoFile")})
            key(r"HKEY_CLASSES_ROOT\.jar", **{"@": reg_string("jarfile")})
            self.machine_keys[r"Microsoft\Windows\CurrentVersion\Uninstall\Bundlo archiver"] = {
                "DisplayIcon": reg_string(r"C:\windows\notepad.exe")}
            self.files.append((USER_DESKTOP + r"\Bundlo.lnk", b"an older shortcut"))
            self.notes.append("the machine test_roundtrip.py has always checked")

        # Other programs' extensions, each in one of the forms a machine has them.
        for extension in r.sample(EXTENSIONS, r.randint(2, 7)):
            if base and "HKEY_CLASSES_ROOT\\" + extension in self.keys:
                continue
            form = r.choice(["owner", "owner", "owner", "no class", "earlier", "owner+values"])
            path = "HKEY_CLASSES_ROOT\\" + extension
            if form.startswith("owner"):
                key(path, **{"@": reg_string("Other" + extension.upper())})
                if form == "owner+values":
                    key(path, **{"Content Type": reg_string("application/x-other"),
                                 "PerceivedType": reg_string("compressed")})
            elif form == "no class":
                key(path + r"\OpenWithList\other.exe")
            else:
                # An earlier installation of the archiver took it over and saved what was there.
                saved = r.choice(["Other" + extension.upper(), "Bundlo", ""])
                existed = saved != "" or r.random() < 0.5
                key(path, **{"@": reg_string("Bundlo.ZIP" if extension == ".zip" else "Bundlo")})
                key(r"HKEY_CURRENT_USER\Software\Bundlo\Setup" + "\\" + extension,
                    Exist="dword:%08x" % (1 if existed else 0), Type=reg_string(saved))
                self.owned_earlier[extension] = (existed, saved)
            if extension in (".zip", ".bdl") and form != "earlier" and r.random() < 0.7:
                shell_new = r.choice([
                    {"NullFile": reg_string("")},
                    {"FileName": reg_string(r"C:\old\empty" + extension)},
                    {"Data": reg_hex(bytes(r.randrange(256) for _ in range(r.randint(0, 40))))},
                    {"Command": reg_string('other.exe /new "%1"')},
                    {"ItemName": reg_hex(utf16z(r"@%SystemRoot%\other.dll,-7"), "(2)"),
                     "Data": reg_hex(bytes([0x50, 0x4b, 5, 6]))},
                ])
                key(path + r"\ShellNew", **shell_new)
            self.notes.append("%s: %s" % (extension, form))
        for _ in range(r.randint(0, 2)):
            volume = ".b%02d" % r.randrange(30)
            key("HKEY_CLASSES_ROOT\\" + volume, **{"@": reg_string("Backup.Volume")})
        if r.random() < 0.3:
            key(r"HKEY_CLASSES_ROOT\.rev", **{"@": reg_string("Other.Recovery")})
            self.notes.append("another program's .rev")
        # Choices an earlier installation saved, which the /init text may overlay.
        self.stored_desktop = 0
        # A vendor's file holds the choices instead; the user's stored ones are not read.
        if r.random() < 0.4 and not self.vendor:
            self.stored_desktop = r.randint(0, 1)
            key(r"HKEY_CURRENT_USER\Software\Bundlo\Setup\Links",
                Desktop="dword:%08x" % self.stored_desktop, Programs="dword:%08x" % r.randint(0, 1))
            key(r"HKEY_CURRENT_USER\Software\Bundlo\Setup", ShellExt="dword:%08x" % r.randint(0, 1))
        if not base and r.random() < 0.5:
            self.machine_keys[r"Microsoft\Windows\CurrentVersion\Uninstall\Bundlo archiver"] = {
                "DisplayIcon": reg_string(r"C:\windows\notepad.exe"),
                "DisplayName": reg_string("Bundlo 0.9")}
            self.notes.append("an earlier uninstall entry")
        # Shortcuts the user already has.
        for folder, name in ((USER_DESKTOP, "Bundlo.lnk"), (COMMON_DESKTOP, "Bundlo.lnk"),
                             (USER_START_MENU, "Bundlo.lnk"), (COMMON_START_MENU, "Bundlo.lnk"),
                             (USER_START_MENU + r"\Programs\Bundlo", "Old.lnk")):
            if r.random() < 0.25:
                self.files.append((folder + "\\" + name, b"an older shortcut"))
        # The /init text: some letters, in any order and case.
        self.digits = [r.randint(0, 1) for _ in range(18)]
        named = 0 if base else r.randint(0, 18)
        letters = ["A" + "".join(str(d) for d in self.digits[:named])] if named else []
        letters += [letter + str(r.randint(0, 1)) for letter in "SCIDMP" if r.random() < 0.7]
        r.shuffle(letters)
        named_desktop = [l for l in letters if l[0] == "D"]
        self.init = "".join(l.lower() if r.random() < 0.2 else l for l in letters)
        if base:
            self.init = "D1M1P1"
        self.desktop = 1 if base else int(named_desktop[0][1]) if named_desktop else \
            self.stored_desktop
        # What the A run does not name keeps its stored value: on in a new machine, but .jar
        # only while the archiver has it and .iso not while another program has it.
        for row in range(named, 18):
            self.digits[row] = 1
        if named <= 11 and ".jar" not in self.owned_earlier:
            self.digits[11] = 0
        iso = self.keys.get(r"HKEY_CLASSES_ROOT\.iso", {}).get("@")
        if named <= 12 and iso and ".iso" not in self.owned_earlier:
            self.digits[12] = 0
        # What the user keeps in the own program group besides its shortcuts, which neither
        # the setup nor the removal takes. Drawn last, so that every draw before it is what it
        # was for the seeds of earlier versions.
        if r.random() < 0.3:
            for name in ("notes.txt", r"mine\notes.txt"):
                self.files.append((USER_START_MENU + r"\Programs\Bundlo" + "\\" + name,
                                   b"the user's"))
            self.notes.append("the user's files in the program group")

    def describe(self):
        fleet = "".join(("portable, " if self.portable else "",
                         "another account removes it, " if self.other_account else "",
                         "vendor file Integration=%s, " % self.vendor if self.vendor else "",
                         "the other build removes it, " if self.switch_build else ""))
        return "machine %s (%s%s), /init%s" % (self.seed, fleet, "; ".join(self.notes) or "plain",
                                               self.init)

    def has_settings_file(self):
        """Whether the program folder gets a "Bundlo.ini" (the list must name it)."""
        return self.portable or bool(self.vendor)

    def setup_env(self, env):
        """The setup's environment: an installer with the vendor's file beside it."""
        return dict(env, sfxname=VENDOR_INSTALLER) if self.vendor else env

    def before_removal(self, prefix, program_folder, other_exe):
        """What happens between the setup and the removal on a fleet's machine."""
        if self.other_account:
            prefix.reg_import("[-HKEY_CURRENT_USER\\Software\\Bundlo]\n")
        if self.switch_build:
            shutil.copy(other_exe, prefix.unix_path(program_folder + r"\Uninstall.exe"))

    def reg_text(self, deep=True):
        text = ""
        for path, values in self.keys.items():
            text += "[%s]\n" % path
            for name, data in values.items():
                text += ("@" if name == "@" else reg_string(name)) + "=" + data + "\n"
        if self.deep and deep:
            for n in (510, 511, 512):
                text += "[HKEY_CURRENT_USER\\%s\\child]\n" % deep_key(r"Software\Bundlo", n)
            for n in (511, 512):
                text += "[HKEY_CLASSES_ROOT\\%s\\child]\n" % deep_key("Bundlo.ZIP", n)
        return text

    def machine_reg_text(self):
        text = ""
        for path, values in self.machine_keys.items():
            text += "[HKEY_LOCAL_MACHINE\\Software\\%s]\n" % path
            for name, data in values.items():
                text += reg_string(name) + "=" + data + "\n"
        return text

    def seed_into(self, prefix, view, program_folder):
        """Writes the machine into the prefix: registry, shortcuts and (portable) the settings
        file beside the program."""
        prefix.reg_import(self.reg_text())
        if self.machine_keys:
            prefix.reg_import(self.machine_reg_text(), view)
        user = os.environ.get("USER", "root")
        for path, data in self.files:
            unix = prefix.unix_path(path.format(user=user))
            os.makedirs(os.path.dirname(unix), exist_ok=True)
            with open(unix, "wb") as f:
                f.write(data)
        if self.portable:
            with open(prefix.unix_path(program_folder + r"\Bundlo.ini"), "w",
                      encoding="utf-16") as f:
                f.write("Global\\Integration=0\r\n")
        if self.vendor:
            installer = prefix.unix_path(VENDOR_INSTALLER)
            os.makedirs(os.path.dirname(installer), exist_ok=True)
            with open(os.path.join(os.path.dirname(installer), "Bundlo.ini"), "w",
                      encoding="utf-16") as f:
                f.write("Global\\Integration=%s\r\n" % self.vendor)

    def expected(self, before, after, view):
        """The machine the round trip must leave, from the one before: the leftovers and
        removals the program stands by, each named here."""
        expected = {area: (dict(v) if isinstance(v, dict) else set(v))
                    for area, v in before.items()}
        if self.other_account:
            # Gone before the removal, by the other account's hand, not the program's.
            for key in [k for k in expected[r"HKCU\Software"] if k.split("\\", 1)[0] == "bundlo"]:
                del expected[r"HKCU\Software"][key]
        if self.portable or self.vendor == "0":
            # A portable copy keeps everything in its own file and touches nothing else; so does
            # a setup whose vendor says "no integration".
            return expected
        if self.vendor and not self.other_account:
            # With the vendor's file the user's registry key is not the program's store: only
            # the saved state of an earlier version, which the removal used, goes from it (all
            # of it went before the removal when another account removes the program).
            kept = {k: v for k, v in expected[r"HKCU\Software"].items()
                    if k.split("\\", 1)[0] == "bundlo" and not k.startswith("bundlo\\setup")}
        hkcr = expected["HKCR"]
        # The product key and the archiver's classes go as whole trees, however deep.
        for area, tops in ((r"HKCU\Software", ("bundlo",)), ("HKCR", ("bundlo", "bundlo.zip",
                                                                      "bundlo.rev"))):
            for key in [k for k in expected[area] if k.split("\\", 1)[0] in tops]:
                del expected[area][key]
        if self.vendor and not self.other_account:
            expected[r"HKCU\Software"].update(kept)
        associated = {e for row, exts in enumerate(TYPES) for e in exts if self.digits[row]}

        # An extension an earlier installation took over goes back to what its saved state
        # names (the archiver's own class counts as none).
        def previous_of(extension):
            existed, saved = self.owned_earlier[extension]
            if saved.lower() in ("bundlo", "bundlo.zip"):
                saved = ""
            return existed, saved
        for extension in self.owned_earlier:
            existed, saved = previous_of(extension)
            if existed:
                hkcr.setdefault(extension, {})[""] = reg_string(saved)
            else:
                hkcr.pop(extension, None)
        # A key that had no class keeps an empty one once the archiver had it.
        for extension in associated:
            if extension in hkcr and "" not in hkcr[extension] and \
                    extension not in self.owned_earlier:
                hkcr[extension][""] = '""'
        # The old volume extensions without a class, which this setup gave the archiver with
        # ".bdl", take the class ".bdl" had before; with none they are gone again. An earlier
        # installation's ".bdl" that this setup gives back brings no volume extensions along:
        # those that never were there are not made.
        if ".bdl" in associated:
            if ".bdl" in self.owned_earlier:
                existed, previous = previous_of(".bdl")
                previous = previous if existed else ""
            else:
                previous = before["HKCR"].get(".bdl", {}).get("", "")
                previous = previous.strip('"') if previous.startswith('"') else ""
            for n in range(30):
                volume = ".b%02d" % n
                if "" in hkcr.get(volume, {}):
                    continue
                if previous:
                    hkcr.setdefault(volume, {})[""] = reg_string(previous)
        # ".rev" that named no other program goes with the archiver.
        if "" not in hkcr.get(".rev", {}) or hkcr[".rev"][""] in ('""', '"Bundlo.REV"'):
            for key in [k for k in hkcr if k == ".rev" or k.startswith(".rev\\")]:
                del hkcr[key]
        # The uninstall entry that an earlier installation left is removed with the program.
        own_view = "" if view == 64 else "wow6432node\\"
        expected[r"HKLM\Software"].pop(own_view + UNINSTALL_ENTRY, None)
        # Every Windows has the Default Programs list's key; the prefix did not, and the removal
        # takes the archiver's value out of it, not the key.
        for key in ("registeredapplications", "wow6432node\\registeredapplications"):
            if after[r"HKLM\Software"].get(key) == {}:
                expected[r"HKLM\Software"].setdefault(key, {})
        # The user's shortcuts to the archiver go with the archiver: both desktop ones (the
        # removal takes the user's own and the all-users one), the all-users Start menu one and
        # the shortcut files directly in the program groups, under any name. What else the user
        # keeps in a group stays, and the folder with it.
        files = expected["shell folders"]
        files.discard(os.path.join(USER_DESKTOP, "Bundlo.lnk"))
        files.discard(os.path.join(COMMON_DESKTOP, "Bundlo.lnk"))
        files.discard(os.path.join(COMMON_START_MENU, "Bundlo.lnk"))
        for group in (COMMON_START_MENU, USER_START_MENU):
            prefix = os.path.join(group, "Programs", "Bundlo") + os.sep
            for path in [p for p in files if p.startswith(prefix)]:
                name = path[len(prefix):]
                if os.sep not in name and name.lower().endswith(".lnk"):
                    files.discard(path)
        return expected


def other_build_exe(build):
    """The Uninstall.exe of the other architecture, beside this build's folder."""
    other = "win32" if os.path.basename(build) == "win64" else "win64"
    return os.path.join(os.path.dirname(build), other, "Uninstall.exe")


def machine_state(prefix, harness):
    """What a round trip compares: the integration's keys of HKEY_CLASSES_ROOT (its extensions
    and classes, and every key that names the archiver or its shell extension),
    HKEY_CURRENT_USER\\Software and HKEY_LOCAL_MACHINE\\Software without Wine's own keys, and
    the files of the shell folders."""
    user = os.environ.get("USER", "root")
    files = set()
    for folder in SHELL_FOLDERS:
        base = prefix.unix_path(folder.format(user=user))
        for top, _, names in os.walk(base):
            files.update(os.path.join(folder, os.path.relpath(os.path.join(top, n), base))
                         for n in names)
    areas = prefix.registry_areas()
    watched = harness.watched_class_keys()
    areas["HKCR"] = {path: values for path, values in areas["HKCR"].items()
                     if path.split("\\", 1)[0] in watched or "bundlo" in path or
                     "5c0e3a71" in path}
    areas["shell folders"] = files
    return areas


def compare(test, expected, after):
    """Asserts the machine after the round trip, area by area, with subTest."""
    for area in ("HKCR", r"HKCU\Software", r"HKLM\Software"):
        with test.subTest(area=area):
            missing = sorted(set(expected[area]) - set(after[area]))
            extra = sorted(set(after[area]) - set(expected[area]))
            test.assertEqual(([], []), (missing, extra), "keys gone, keys left over")
            for key in sorted(expected[area]):
                test.assertEqual(expected[area][key], after[area][key], key)
    test.assertEqual(sorted(expected["shell folders"]), sorted(after["shell folders"]))


def differences(expected, after, limit=20):
    """The same comparison as lines, for a runner without unittest."""
    lines = []
    for area in ("HKCR", r"HKCU\Software", r"HKLM\Software"):
        for key in sorted(set(expected[area]) - set(after[area])):
            lines.append("%s: key gone: %s" % (area, key))
        for key in sorted(set(after[area]) - set(expected[area])):
            lines.append("%s: key left over: %s" % (area, key))
        for key in sorted(set(expected[area]) & set(after[area])):
            if expected[area][key] != after[area][key]:
                lines.append("%s: %s: %r, expected %r" % (area, key, after[area][key],
                                                          expected[area][key]))
    for path in sorted(expected["shell folders"] - after["shell folders"]):
        lines.append("shell folders: gone: " + path)
    for path in sorted(after["shell folders"] - expected["shell folders"]):
        lines.append("shell folders: left over: " + path)
    return lines[:limit]
