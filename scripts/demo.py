#!/usr/bin/env python3
"""`make demo`: lays out an installed Bundlo in a sandbox Wine prefix where other programs already
own some archive types, runs the unattended setup (Uninstall.exe /setup /S) and then the
unattended uninstall (Uninstall.exe /S), for the 64-bit and the 32-bit program, and tells in
plain words what each run changed."""
import glob
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ["BDL_WINEPREFIX"] = os.path.join(ROOT, "build", "demo-prefix")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402

# Where a real installer of each build puts the archiver.
FOLDERS = {"win64": r"C:\Program Files\Bundlo", "win32": r"C:\Program Files (x86)\Bundlo"}
EXTENSIONS = [("bdlext.dll", "{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F01}"),
              ("bdlext64.dll", "{5C0E3A71-2B94-4F6D-8A13-7D2E9B4C6F02}")]
PLACEHOLDERS = ["Bundlo.exe", "bdlext.dll", "bdlext64.dll", "Bundlo.chm", "license.txt", "Bdl.txt",
                "WhatsNew.txt", r"Formats\readme.txt"]
# What other programs own before Bundlo arrives, as a .reg text.
SEED = r"""
[HKEY_CLASSES_ROOT\.zip]
@="CompressedFolder"
[HKEY_CLASSES_ROOT\.zip\ShellNew]
"NullFile"=""
[HKEY_CLASSES_ROOT\.7z]
@="Other.7z"
[HKEY_CLASSES_ROOT\.iso]
@="Windows.IsoFile"
[HKEY_CLASSES_ROOT\.jar]
@="jarfile"
"""
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Bundlo archiver"
APP_PATHS_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Bundlo.exe"
SHORTCUT_FOLDERS = [r"C:\users\Public\Desktop", r"C:\ProgramData\Microsoft\Windows\Start Menu",
                    r"C:\users\{user}\AppData\Roaming\Microsoft\Windows\Start Menu"]


def say(text=""):
    print(text, flush=True)


def lay_out(prefix, arch):
    program = prefix.install(os.path.join(ROOT, "build", arch, "Uninstall.exe"), FOLDERS[arch])
    folder = prefix.unix_path(FOLDERS[arch])
    for name in PLACEHOLDERS:
        path = os.path.join(folder, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(f"placeholder for {name}\r\n")
    listed = PLACEHOLDERS + ["Formats", "bdlnew.dat", "zipnew.dat", "Uninstall.exe"]
    with open(os.path.join(folder, "Uninstall.lst"), "w") as f:
        f.write("".join(name + "\r\n" for name in listed))
    prefix.reg_import(SEED)
    return program


def class_of(snapshot, ext):
    data = snapshot.get(ext, {}).get("")
    return None if data is None else data.strip('"')


def shortcuts(prefix):
    found = set()
    user = os.environ.get("USER", "root")
    for folder in SHORTCUT_FOLDERS:
        base = prefix.unix_path(folder.format(user=user))
        for path in glob.glob(os.path.join(base, "**", "*.lnk"), recursive=True):
            found.add(os.path.relpath(path, prefix.unix_path("C:\\")).replace("/", "\\"))
    return found


def collapse_volumes(items):
    """The old-style volume extensions .b00 ... .b99 shown as one range."""
    volumes = [i for i in items if len(i.split()[0]) == 4 and i.startswith(".b")
               and i[2:4].isdigit()]
    rest = [i for i in items if i not in volumes]
    if volumes:
        names = sorted(v.split()[0] for v in volumes)
        rest.append(f"{names[0]}-{names[-1]} (old-style volumes)")
    return rest


def describe_associations(before, after):
    """(taken over, given back to an owner, keys removed) between two snapshots."""
    taken, given, removed = [], [], []
    extensions = sorted(k for k in set(before) | set(after) if k.startswith(".") and "\\" not in k)
    for ext in extensions:
        old, new = class_of(before, ext), class_of(after, ext)
        if old == new and (ext in before) == (ext in after):
            continue
        if new is not None and new.lower().startswith("bundlo"):
            taken.append(f"{ext} (from {old})" if old else ext)
        elif ext not in after:
            removed.append(ext)
        else:
            given.append(f"{ext} -> {new or 'no class'}")
    return collapse_volumes(taken), given, collapse_volumes(removed)


def describe_extensions(prefix):
    """Each shell extension DLL: the registry views holding its server, and its handler name."""
    for dll, clsid in EXTENSIONS:
        views = [f"{v}-bit" for v in (32, 64)
                 if prefix.reg_query(rf"HKCR\CLSID\{clsid}\InProcServer32", "", v)]
        handler = next((name for name in ("Bundlo", "Bundlo32") if prefix.reg_query(
            rf"HKCR\Folder\shellex\DragDropHandlers\{name}", "") == clsid), "none")
        say(f"   shell extension {dll}: {clsid} in the {' and '.join(views) or 'no'} registry "
            f"view, handler {handler}")


def show_values(prefix, key, names, view):
    for name in names:
        value = prefix.reg_query(key, name, view)
        say(f"      {name}: {value}")


def main():
    prefix = harness.Prefix()
    for arch in ("win64", "win32"):
        prefix.reset()
        program = lay_out(prefix, arch)
        program_folder = FOLDERS[arch]
        say(f"== {arch}: {program_folder} holds Uninstall.exe, {len(PLACEHOLDERS)} placeholder files, "
            "a folder and Uninstall.lst; the New-menu templates are not there yet")
        before = prefix.classes_snapshot()
        say("   other programs own: " + ", ".join(
            f"{ext} -> {class_of(before, ext)}" for ext in (".zip", ".7z", ".iso", ".jar")))
        links_before = shortcuts(prefix)

        # Wine creates even the dialogs that confirm themselves (/S) only on a display.
        display = harness.Display(prefix)
        display.__enter__()
        result = prefix.run(program, ["/setup", "/S"], timeout=120)
        say(f"-- Uninstall.exe /setup /S: exit code {result.code} after {result.seconds:.1f} s")
        after = prefix.classes_snapshot()
        taken, _, _ = describe_associations(before, after)
        say("   associations taken over: " + ", ".join(taken))
        untouched = [ext for ext in (".iso", ".jar")
                     if class_of(after, ext) == class_of(before, ext)]
        say("   left with their owners (unchecked by default): " + ", ".join(untouched))
        for ext in (".bdl", ".zip"):
            template = after.get(ext + "\\shellnew", {}).get("filename", "none").strip('"')
            template = template.replace("\\\\", "\\")  # the export doubles backslashes
            say(f"   New menu for {ext}: {template}")
        for name in ("bdlnew.dat", "zipnew.dat"):
            path = prefix.unix_path(program_folder + "\\" + name)
            size = os.path.getsize(path) if os.path.exists(path) else None
            say(f"   template file {name}: " + (f"{size} bytes" if size is not None else "missing"))
        describe_extensions(prefix)
        made = sorted(shortcuts(prefix) - links_before)
        say(f"   shortcuts made ({len(made)}):")
        for link in made:
            say(f"      {link}")
        # The program writes its machine-wide keys in its own registry view.
        view = 64 if arch == "win64" else 32
        say("   uninstall entry:")
        show_values(prefix, UNINSTALL_KEY, ["DisplayName", "UninstallString", "Publisher"], view)
        say(f"   App Paths: Bundlo.exe -> {prefix.reg_query(APP_PATHS_KEY, '', view)}")

        result = prefix.run(program, ["/S"], timeout=120)
        folder = prefix.unix_path(program_folder)
        start = time.monotonic()
        # The uninstaller hands its own deletion to a hidden batch file and ends at once.
        while os.path.exists(folder) and time.monotonic() - start < 60:
            time.sleep(0.5)
        say(f"-- Uninstall.exe /S: exit code {result.code} after {result.seconds:.1f} s; "
            f"the batch file finished {time.monotonic() - start:.1f} s later")
        display.__exit__(None, None, None)
        final = prefix.classes_snapshot()
        _, given, removed = describe_associations(after, final)
        say("   associations given back to their owners: " + ", ".join(given))
        say("   extension keys the archiver had made, removed again: " + ", ".join(removed))
        zip_new = final.get(".zip\\shellnew", {})
        say(f"   .zip New menu: {', '.join(f'{k or chr(64)}={v}' for k, v in zip_new.items())}")
        left = sorted(shortcuts(prefix) - links_before)
        say(f"   shortcuts left: {len(left)}")
        entry = prefix.reg_query(UNINSTALL_KEY, None, view)
        app_paths = prefix.reg_query(APP_PATHS_KEY, None, view)
        say(f"   uninstall entry: {'still there' if entry else 'removed'}"
            f"; App Paths: {'still there' if app_paths else 'removed'}")
        say(f"   {program_folder}: {'still there' if os.path.exists(folder) else 'gone'}")
        unchanged = all(class_of(final, e) == class_of(before, e)
                        for e in (".zip", ".7z", ".iso", ".jar"))
        say(f"   previous owners restored: {'yes' if unchanged else 'NO'}")
        say()
    subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())


if __name__ == "__main__":
    main()
