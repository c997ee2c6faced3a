#!/usr/bin/env python3
"""`make demo`: lays out an installed Bundlo in a sandbox Wine prefix and runs Uninstall.exe there
with the switches it understands, printing in plain words what each run did."""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ["BDL_WINEPREFIX"] = os.path.join(ROOT, "build", "demo-prefix")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402

FOLDER = harness.PROGRAM_FOLDER
PLACEHOLDERS = ["Bundlo.exe", "bdlext.dll", "bdlext64.dll", "bundlo.chm", "license.txt", "Bdl.txt",
                "WhatsNew.txt"]
# Associations that other programs own before Bundlo arrives.
SEEDED = {".zip": "CompressedFolder", ".7z": "SevenZip.7z", ".tar": "OtherArc.tar"}
WATCHED_KEYS = [r"HKCU\Software\Bundlo", r"HKCR\Bundlo", r"HKCR\Bundlo.ZIP",
                r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Bundlo",
                r"HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Bundlo.exe"]


def say(text=""):
    print(text, flush=True)


def lay_out(prefix, arch):
    program = prefix.install(os.path.join(ROOT, "build", arch, "Uninstall.exe"), FOLDER)
    folder = prefix.unix_path(FOLDER)
    for name in PLACEHOLDERS:
        with open(os.path.join(folder, name), "w") as f:
            f.write(f"placeholder for {name}\r\n")
    with open(os.path.join(folder, "Uninstall.lst"), "w") as f:
        f.write("".join(name + "\r\n" for name in PLACEHOLDERS + ["Uninstall.exe"]))
    for ext, owner in SEEDED.items():
        prefix.run("reg", ["add", "HKCR\\" + ext, "/ve", "/d", owner, "/f"])
    return program


def snapshot(prefix):
    state = {ext: prefix.reg_query("HKCR\\" + ext, "") for ext in SEEDED}
    state.update({key: prefix.reg_query(key) is not None for key in WATCHED_KEYS})
    return state


def report_changes(before, after):
    changed = [k for k in after if before.get(k) != after[k]]
    if not changed:
        say("    registry: nothing changed (associations, product key, uninstall entry, App Paths)")
    for key in changed:
        if key.startswith("."):
            say(f"    association {key}: {before[key]} -> {after[key]}")
        else:
            say(f"    {key}: {'created' if after[key] else 'removed'}")


def run(prefix, program, switches, note, env=None):
    before = snapshot(prefix)
    result = prefix.run(program, switches, env=env)
    line = " ".join(switches) or "(no switches)"
    say(f"  Uninstall.exe {line}{' with sfxcmd=' + env['sfxcmd'] if env else ''}")
    say(f"    exit code {result.code} after {result.seconds:.1f} s: {note}")
    report_changes(before, snapshot(prefix))


def main():
    prefix = harness.Prefix()
    for arch in ("win64", "win32"):
        prefix.reset()
        program = lay_out(prefix, arch)
        say(f"== {arch}: {FOLDER} holds Uninstall.exe, {len(PLACEHOLDERS)} placeholder files and "
            "Uninstall.lst")
        owners = snapshot(prefix)
        say("   associations before: " + ", ".join(f"{ext} -> {owners[ext]}" for ext in SEEDED))
        run(prefix, program, ["/set"], "an unknown switch selects neither setup nor uninstall")
        run(prefix, program, ["/wait"], "slept two seconds, as the uninstall batch file needs")
        run(prefix, program, ["/set"], "only /S counts in the installer's variable",
            env={"sfxcmd": "/setup"})
        with harness.Display(prefix):
            harness.DRIVER = os.path.join(ROOT, "build", arch, "guidriver.exe")
            driver = harness.Driver(prefix)
            process = prefix.start(program, ["/warning"])
            controls = driver.wait("Uninstall Bundlo", 60000)
            say("  Uninstall.exe /warning")
            if controls is None:
                say("    no message box appeared")
            else:
                for _, cls, text in controls:
                    if cls.lower() == "static" and text:
                        for line in text.splitlines():
                            say(f"    box says: {line}")
                driver.press("Uninstall Bundlo", 1)
            say(f"    OK pressed; exit code {process.wait(timeout=60)}")
        say("  Setup (/setup) and the uninstall run (no switch) are not built yet: they end at once.")
        say()
    subprocess.run([harness.PREFIX_SCRIPT, "stop"], env=prefix.env())


if __name__ == "__main__":
    main()
