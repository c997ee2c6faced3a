"""Runs the real Uninstall.exe in the test prefix: installs it into a program folder, runs it with
given switches, environment and working folder under a time limit, and operates its windows on a
virtual display through the GUI driver.

Scenario scripts import this module and call main(); CTest passes --exe and --driver.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def resource_ids():
    """The control and string ids by their names in resources/resource.h, with IDOK, IDCANCEL
    and IDHELP as windows.h has them: a test names a control as the program does."""
    ids = {"IDOK": 1, "IDCANCEL": 2, "IDHELP": 9}
    with open(os.path.join(ROOT, "resources", "resource.h")) as f:
        for line in f:
            match = re.match(r"#define (ID[A-Z]_\w+) (\d+)\s*$", line)
            if match:
                ids[match.group(1)] = int(match.group(2))
    return ids
PREFIX_SCRIPT = os.path.join(ROOT, "scripts", "wine-prefix.sh")

EXE = None  # the Uninstall.exe under test (Linux path)
DRIVER = None  # the GUI driver of the same build
BUILD = None  # the build folder of the same preset (test programs, fixtures)

PROGRAM_FOLDER = r"C:\Program Files\Bundlo"
REGISTRY_FILES = ("system.reg", "user.reg", "userdef.reg")  # a prefix's whole registry
# What runs in a prefix between the runs of a test: the server, the services and the desktop.
RESIDENT = {"wineserver", "wineserver64", "services.exe", "winedevice.exe", "plugplay.exe",
            "svchost.exe", "rpcss.exe", "explorer.exe"}


class StartHang(RuntimeError):
    """A process that Wine left in its start-up for good (one whose creator was killed while
    creating it, say) never runs: the run that left it tests nothing but Wine."""


class Result:
    def __init__(self, code, seconds, stdout, stderr):
        self.code, self.seconds, self.stdout, self.stderr = code, seconds, stdout, stderr
        self.diagnostics = diagnostic_lines(stderr)

    def __repr__(self):
        return f"Result(code={self.code}, seconds={self.seconds:.2f})"


# Wine 8 reports a program's debug output on its "seh" channel, escaped as C text.
DIAGNOSTICS = {"WINEDEBUG": "warn+seh"}


def diagnostic_lines(stderr):
    """The program's diagnostic lines ("Bundlo Uninstall: ...") in a run's error output, when it
    ran with DIAGNOSTICS."""
    lines = []
    for line in stderr.splitlines():
        head, _, quoted = line.partition(':warn:seh:OutputDebugStringA "')
        if quoted and quoted.startswith("Bundlo Uninstall: "):
            text = quoted.rsplit('"', 1)[0].replace("\\\\", "\x00").replace("\\n", "")
            lines.append(text.replace("\x00", "\\"))
    return lines


class Prefix:
    """The Wine prefix of the test run (build/wineprefix unless BDL_WINEPREFIX says otherwise)."""

    def __init__(self):
        subprocess.run([PREFIX_SCRIPT, "ensure"], check=True)
        self.path = subprocess.run([PREFIX_SCRIPT, "path"], check=True, capture_output=True,
                                   text=True).stdout.strip()
        self.display = None

    def env(self, extra=None):
        env = dict(os.environ)
        # The installer's variable must come only from the scenario.
        env.pop("sfxcmd", None)
        env.update(WINEPREFIX=self.path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        if self.display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        env.update(extra or {})
        return env

    def reset(self):
        """Ends every process of the prefix, orphans that never reached its server included,
        and puts its saved registry back."""
        subprocess.run([PREFIX_SCRIPT, "reset"], env=self.env(), check=True)
        for pid in self.processes():
            self.kill_hard(pid)
        subprocess.run([PREFIX_SCRIPT, "start"], env=self.env(), check=True)

    def unix_path(self, windows_path):
        drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/").lstrip("/")
        assert windows_path[1] == ":" and drive == "c", windows_path
        return os.path.join(self.path, "drive_c", rest)

    def windows_path(self, host_path):
        """A file of the host as Windows programs of the prefix reach it (through drive Z:)."""
        return "Z:" + os.path.abspath(host_path).replace("/", "\\")

    def install(self, exe=None, folder=PROGRAM_FOLDER):
        """Copies the program into a program folder of the prefix, emptied first (the prefix's
        reset restores the registry only); returns its Windows path."""
        shutil.rmtree(self.unix_path(folder), ignore_errors=True)
        os.makedirs(self.unix_path(folder), exist_ok=True)
        shutil.copy(exe or EXE, self.unix_path(folder + r"\Uninstall.exe"))
        return folder + r"\Uninstall.exe"

    def command(self, program, args):
        return ["wine", program, *args]

    def code_script(self, program, args):
        """A batch file that runs the program and notes its whole exit code, which cmd.exe sees
        and Wine passes to a Linux parent only in its low eight bits (3010 arrives as 194)."""
        Prefix.scripts = getattr(Prefix, "scripts", 0) + 1
        script = rf"C:\bdl_code_{os.getpid()}_{Prefix.scripts}.bat"
        line = " ".join(f'"{a}"' if " " in a else a for a in (program, *args))
        with open(self.unix_path(script), "w", newline="\r\n") as f:
            f.write(f"@{line}\n@echo code %errorlevel% > {script}.txt\n")
        return script

    def script_code(self, script):
        with open(self.unix_path(script + ".txt")) as f:
            return int(f.read().split()[1])

    def run(self, program, args=(), env=None, cwd=None, timeout=60, whole_code=False):
        """Runs a Windows program to its end; cwd is a Windows folder of the prefix. whole_code
        reads its exit code through cmd.exe, beyond the eight bits Wine passes on."""
        if whole_code:
            script = self.code_script(program, args)
            done = self.run("cmd", ["/c", script], env, cwd, timeout)
            done.code = self.script_code(script)
            return done
        # Output goes through files, not pipes: Wine's own services, started by the first
        # program of a session, inherit the handles and would keep a pipe open for minutes.
        with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
            start = time.monotonic()
            done = subprocess.run(self.command(program, args), env=self.env(env),
                                  cwd=self.unix_path(cwd) if cwd else None, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=timeout)
            seconds = time.monotonic() - start
            out.seek(0)
            err.seek(0)
            return Result(done.returncode, seconds, out.read(), err.read())

    def start(self, program, args=(), env=None, cwd=None, whole_code=False, nice=0):
        """Starts a Windows program and returns at once (for programs that open windows); with
        whole_code, wait() gives its whole exit code. nice lowers its priority (and that of the
        processes it starts) by that much."""
        if whole_code:
            script = self.code_script(program, args)
            process = self.start("cmd", ["/c", script], env, cwd)
            wait = process.wait

            def wait_whole(timeout=None):
                wait(timeout)
                return self.script_code(script)
            process.wait = wait_whole
            return process
        return subprocess.Popen(self.command(program, args), env=self.env(env),
                                cwd=self.unix_path(cwd) if cwd else None, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                preexec_fn=(lambda: os.nice(nice)) if nice else None)

    def processes(self, name=None):
        """{Linux pid: arguments} of this prefix's Windows processes, or of those whose program
        file is `name` (any case); Wine keeps the Windows program's path as the first argument
        once the process has started. Another prefix on the machine may run the same program:
        its processes differ in WINEPREFIX."""
        found = {}
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if "/wine" not in os.readlink(f"/proc/{pid}/exe"):
                    continue
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    arguments = [a.decode("utf-8", "replace") for a in f.read().split(b"\0") if a]
                program = re.split(r"[\\/]", arguments[0])[-1].lower() if arguments else ""
                if name is not None and program != name.lower():
                    continue
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if b"\0WINEPREFIX=" + self.path.encode() + b"\0" not in b"\0" + f.read():
                        continue
            except OSError:
                continue  # ended meanwhile, or not ours to read
            found[int(pid)] = arguments
        return found

    def kill_hard(self, pid):
        """What a power cut or a tool's time limit does: SIGKILL of the Linux process that runs
        the Windows one; wineserver then ends the Windows process as abandoned. A process that
        has ended meanwhile is left as it is."""
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def settle(self, timeout=120, hang=20):
        """Waits until the prefix runs nothing but Wine's own resident processes: a killed
        process is gone from wineserver's list, and what a run left working (the removal's batch
        file) has ended. A process still starting shows the loader's arguments, not its
        program's, and counts as running; one that shows them for `hang` seconds while nothing
        else runs raises StartHang."""
        deadline = time.monotonic() + timeout
        starting = {}  # pid -> when it was first seen starting
        while True:
            running = {pid: arguments for pid, arguments in self.processes().items()
                       if re.split(r"[\\/]", arguments[0])[-1].lower() not in RESIDENT}
            if not running:
                return
            now = time.monotonic()
            starting = {pid: starting.get(pid, now) for pid, arguments in running.items()
                        if arguments[0].startswith("/")}
            if len(starting) == len(running) and now - max(starting.values()) > hang:
                raise StartHang("hanging in its start-up: %r" % list(running.values()))
            if now > deadline:
                raise RuntimeError("still running: %r" % list(running.values()))
            time.sleep(0.2)

    def stop_all(self):
        """Ends every process of the prefix: those of its wineserver, and those that never
        reached it. A process that was starting while the server ended waits for good, and
        would run or be taken for a run's own when a server came again."""
        subprocess.run([PREFIX_SCRIPT, "stop"], env=self.env(), check=True)
        for pid in self.processes():
            self.kill_hard(pid)

    def save_state(self, folders):
        """Keeps the registry and these folders (Windows paths) for restore_state; the prefix's
        processes end for it, and start again."""
        saved = tempfile.mkdtemp(prefix=os.path.basename(self.path) + ".state-",
                                 dir=os.path.dirname(self.path))
        self.stop_all()
        for name in REGISTRY_FILES:
            shutil.copy2(os.path.join(self.path, name), saved)
        for n, folder in enumerate(folders):
            if os.path.exists(self.unix_path(folder)):
                shutil.copytree(self.unix_path(folder), os.path.join(saved, str(n)), symlinks=True)
        subprocess.run([PREFIX_SCRIPT, "start"], env=self.env(), check=True)
        return saved, tuple(folders)

    def restore_state(self, state):
        """Puts the registry and the folders of save_state back; every process of the prefix
        ends first, orphans included."""
        saved, folders = state
        self.stop_all()
        for name in REGISTRY_FILES:
            shutil.copy2(os.path.join(saved, name), self.path)
        for n, folder in enumerate(folders):
            shutil.rmtree(self.unix_path(folder), ignore_errors=True)
            if os.path.exists(os.path.join(saved, str(n))):
                shutil.copytree(os.path.join(saved, str(n)), self.unix_path(folder), symlinks=True)
        subprocess.run([PREFIX_SCRIPT, "start"], env=self.env(), check=True)

    def reg_import(self, text, view=None):
        """Imports registry content written in the .reg format (without its header line); view
        32 or 64 writes HKLM\\Software keys into that registry view."""
        path = r"C:\bdl_import.reg"
        with open(self.unix_path(path), "w", encoding="utf-16") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n" + text)
        done = self.run("reg", ["import", path] + ([f"/reg:{view}"] if view else []))
        os.remove(self.unix_path(path))
        if done.code != 0:
            raise RuntimeError("reg import failed: " + done.stdout + done.stderr)

    def registry_snapshot(self, key, keep):
        """The keys below `key` (such as "HKCR" or r"HKCU\Software") for which keep(path)
        holds, path being lower case and relative to `key`, with their values (see
        parse_reg_export), from one export."""
        path = r"C:\bdl_snapshot.reg"
        # The 64-bit view: it holds the 32-bit one as well, below Wow6432Node.
        done = self.run("reg", ["export", key, path, "/y", "/reg:64"], timeout=180)
        if done.code != 0:
            raise RuntimeError("reg export failed: " + done.stdout + done.stderr)
        with open(self.unix_path(path), encoding="utf-16") as f:
            text = f.read()
        os.remove(self.unix_path(path))
        return parse_reg_export(text, keep)

    def registry_areas(self):
        """HKEY_CLASSES_ROOT, HKEY_CURRENT_USER\\Software and HKEY_LOCAL_MACHINE\\Software (both
        views, without Wine's own keys and the classes below Software) in the form of
        registry_snapshot, read by the build's registry_dump tool in seconds where "reg export"
        takes a minute."""
        path = r"C:\bdl_registry.txt"
        tool = os.path.join(BUILD, "tools", "registry_dump.exe")
        done = self.run(tool, [path], timeout=300)
        if done.code != 0:
            raise RuntimeError("registry_dump failed: " + done.stdout + done.stderr)
        with open(self.unix_path(path), encoding="utf-8") as f:
            text = f.read()
        os.remove(self.unix_path(path))
        return parse_registry_dump(text)

    def classes_snapshot(self):
        """The integration's keys of HKEY_CLASSES_ROOT (the first names of
        watched_class_keys)."""
        names = watched_class_keys()
        return self.registry_snapshot("HKCR", lambda path: path.split("\\", 1)[0] in names)

    def reg_query(self, key, value=None, view=None):
        """The data of one registry value as text ("" names the default value), the listing of
        the key when no value is named, or None when the key or value is missing. view 32 or 64
        reads that registry view (HKLM\\Software differs between them)."""
        if value is None:
            args = ["query", key]
        elif value == "":
            args = ["query", key, "/ve"]
        else:
            args = ["query", key, "/v", value]
        if view:
            args.append(f"/reg:{view}")
        done = self.run("reg", args)
        if done.code != 0:
            return None
        if value is None:
            return done.stdout
        name = value.lower() if value else "(default)"
        for line in done.stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None


def watched_class_keys():
    """The first names of every HKEY_CLASSES_ROOT key the integration may touch: the archive
    extensions, the old volume extensions, ".ace", ".rev" and the archiver's classes."""
    extensions = (".bdl .zip .cab .arj .lz .tlz .lzh .lha .7z .tar .gz .tgz .uue .xxe .uu .bz2 "
                  ".tbz2 .bz .tbz .jar .iso .z .taz .xz .txz .zipx .zst .tzst .001").split()
    volumes = [".b%02d" % n for n in range(100)]
    return set(extensions + volumes + [".ace", ".rev", "bundlo", "bundlo.zip", "bundlo.rev"])


def parse_reg_export(text, keep):
    """{key path (lower case, relative to the exported key): {value name (lower case, "" for
    the default): data}} for the keys of a .reg export for which keep(path) holds."""
    snapshot, values, wanted, root = {}, None, False, None
    pending = ""
    for raw in text.splitlines():
        line = pending + raw.strip()
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            if root is None:
                root = line[1:-1].lower()
            name = line[1:-1].lower()
            rest = name[len(root) + 1:] if name.startswith(root + "\\") else ""
            wanted = keep(rest)
            values = snapshot.setdefault(rest, {}) if wanted else None
        elif wanted and "=" in line:
            if line.startswith("@="):
                values[""] = line[2:]
            elif line.startswith('"'):
                end = line.index('"=', 1)
                values[line[1:end].lower()] = line[end + 2:]
    return snapshot


def reg_data_text(kind, data):
    """A value's data as "reg export" writes it."""
    if kind == 1 and len(data) % 2 == 0 and data.endswith(b"\0\0") and \
            b"\0\0" not in [data[i:i + 2] for i in range(0, len(data) - 2, 2)]:
        text = data[:-2].decode("utf-16-le", "surrogatepass")
        return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    if kind == 4 and len(data) == 4:
        return "dword:%08x" % int.from_bytes(data, "little")
    hex_bytes = ",".join("%02x" % b for b in data)
    return ("hex:" if kind == 3 else "hex(%x):" % kind) + hex_bytes


def parse_registry_dump(text):
    """{area: {key path (lower case): {value name (lower case): data}}} from registry_dump."""
    areas = {"HKCR": {}, r"HKCU\Software": {}, r"HKLM\Software": {}}
    for line in text.splitlines():
        fields = line.split("\t")
        if fields[0] == "K" and len(fields) == 3:
            areas[fields[1]].setdefault(fields[2].lower(), {})
        elif fields[0] == "V" and len(fields) == 6:
            values = areas[fields[1]].setdefault(fields[2].lower(), {})
            values[fields[3].lower()] = reg_data_text(int(fields[4]), bytes.fromhex(fields[5]))
    return areas


class Display:
    """A virtual X display for the scenarios that open windows; every window is closed with it."""

    def __init__(self, prefix, size="1280x1024"):
        self.prefix = prefix
        self.size = size
        self.process = None

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.size + "x24", "-nolisten",
             "tcp"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.prefix.display = ":" + number
        # Wine's desktop and services bind to the display they start with: restart them here.
        self._restart_prefix()
        return self

    def _restart_prefix(self):
        subprocess.run([PREFIX_SCRIPT, "stop"], env=self.prefix.env(), check=True)
        subprocess.run([PREFIX_SCRIPT, "start"], env=self.prefix.env(), check=True)

    def __exit__(self, *exc):
        # Whatever the scenario left open goes with the prefix's processes; the display goes
        # even when that fails.
        self.prefix.display = None
        try:
            self._restart_prefix()
        finally:
            self.process.terminate()
            self.process.wait(timeout=10)


class Driver:
    """The GUI driver: reads a window's controls and presses its buttons."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.folder = r"C:\bdltest"
        os.makedirs(prefix.unix_path(self.folder), exist_ok=True)
        shutil.copy(DRIVER, prefix.unix_path(self.folder + r"\guidriver.exe"))

    def _run(self, *args, timeout=120):
        done = self.prefix.run(self.folder + r"\guidriver.exe", [str(a) for a in args],
                               timeout=timeout)
        return done

    def wait(self, caption, timeout_ms=30000):
        """The controls of the window with that caption as (id, class, text); None if it never
        appeared."""
        done = self._run("wait", caption, timeout_ms)
        if done.code != 0:
            return None
        controls = []
        for line in done.stdout.splitlines():
            parts = line.split("\t")
            if len(parts) == 3:
                controls.append((int(parts[0]), parts[1], parts[2].replace("\u2424", "\n")))
        return controls

    def press(self, caption, control_id):
        return self._run("press", caption, control_id).code == 0

    def gone(self, caption, timeout_ms=10000):
        return self._run("gone", caption, timeout_ms).code == 0


class ProgramTest(unittest.TestCase):
    """A scenario class that starts from the saved registry with the program installed."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix()
        cls.prefix.reset()
        cls.program = cls.prefix.install()


def main():
    global EXE, DRIVER, BUILD
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--build", help="the build folder (default: the folder of --exe)")
    args, rest = parser.parse_known_args()
    EXE, DRIVER = os.path.abspath(args.exe), os.path.abspath(args.driver)
    BUILD = os.path.abspath(args.build or os.path.dirname(EXE))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
