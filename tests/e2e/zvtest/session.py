"""One run of an installer executable under Wine, observed as a user
would: its window's place, look and pixels, closing it, and its exit code."""
import contextlib
import os
import shutil
import subprocess
import tempfile
import threading
import time
from pathlib import Path

from . import env

CLASS_NAME = "CZVsexwnd"
TOOLS = env.BUILD / "tests" / "tools"


def win_path(path):
    """The Windows name of a Unix path, through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wine(args, arch="win32", extra_env=None, timeout=60, check=False):
    return subprocess.run(["wine", *args], env=env.wine_environ(arch, extra_env),
                          stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=timeout, check=check)


def tool(*args, arch="win32", extra_env=None):
    return wine([str(TOOLS / "zvtool.exe"), *args], arch=arch, extra_env=extra_env).stdout.strip()


class WindowInfo(dict):
    """What zvtool reports about the installer window."""

    @classmethod
    def parse(cls, line):
        if not line or line == "none":
            return None
        info = cls()
        head, _, title = line.partition(" title=")
        for pair in head.split(" "):
            key, _, value = pair.partition("=")
            info[key] = value
        info["title"] = title
        for key in ("visible", "x", "y", "w", "h", "cx", "cy", "cw", "ch", "pid"):
            info[key] = int(info[key])
        for key in ("style", "exstyle", "classstyle"):
            info[key] = int(info[key], 16)
        return info


class Screenshot:
    def __init__(self, path):
        from PIL import Image  # Debian's python3-pil
        self.path = Path(path)
        self.image = Image.open(path).convert("RGB")

    def pixel(self, x, y):
        return self.image.getpixel((x, y))

    def region(self, left, top, right, bottom):
        """Every pixel of the half-open rectangle, as a list of RGB tuples."""
        return list(self.image.crop((left, top, right, bottom)).getdata())


def system_temps(arch):
    """The prefix's system temporary directories, where the installer works
    (Unix paths; SystemTemp only where a test made one)."""
    windows = env.prefix(arch) / "drive_c" / "windows"
    return [windows / "temp", windows / "SystemTemp"]


SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"


def windows_path(path, arch):
    """The prefix's C: name of a Unix path inside it, lower case."""
    inside = Path(path).relative_to(env.prefix(arch) / "drive_c")
    return ("c:\\" + str(inside).replace("/", "\\")).lower()


def pending_deletions(arch):
    """The paths scheduled for deletion at the next restart (the system's
    PendingFileRenameOperations: pairs of a path and its new name, empty
    for a deletion), in windows_path's form."""
    out = wine(["reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations"],
               arch=arch).stdout
    value = out.partition("REG_MULTI_SZ")[2].strip()
    names = value.split("\\0")
    return {source[4:].lower() if source.startswith("\\??\\") else source.lower()
            for source, target in zip(names[::2], names[1::2]) if source and not target}


def clear_pending_deletions(arch):
    wine(["reg", "delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f"], arch=arch)


DESKTOP = "HKCU\\Control Panel\\Desktop"


@contextlib.contextmanager
def display_scale(dpi, arch="win32"):
    """The prefix's display at `dpi` (96 is 100 %) for the programs started
    meanwhile, as Wine reads it when a program starts; as it was after."""
    before = wine(["reg", "query", DESKTOP, "/v", "LogPixels"], arch=arch).stdout.split()
    wine(["reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
         arch=arch, check=True)
    try:
        yield
    finally:
        if "REG_DWORD" in before:
            wine(["reg", "add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD",
                  "/d", str(int(before[-1], 16)), "/f"], arch=arch, check=True)
        else:
            wine(["reg", "delete", DESKTOP, "/v", "LogPixels", "/f"], arch=arch, check=True)


PACKAGE_NAMES = ("setupZVViewer*",)


def installer_entries(arch, packages=PACKAGE_NAMES):
    """Everything named ZVins* in the prefix's system temporary directories,
    and every copy of a package (by its file name's patterns) in its users'
    Internet caches."""
    users = env.prefix(arch) / "drive_c" / "users"
    caches = {p for name in packages
              for p in users.glob("*/AppData/Local/Microsoft/Windows/INetCache/**/" + name)}
    return {p for temp in system_temps(arch) if temp.is_dir()
            for p in temp.iterdir() if p.name.startswith("ZVins")} | caches


class InstallerRun:
    """Starts `exe` through zvtool (for the full exit code) with a user's
    temporary directory of its own, in a work folder; what the run leaves
    in the system temporary directory is told apart from what was there
    before it. `packages`: the patterns of the package file names, as
    urlmon names its cached copies."""

    def __init__(self, exe, work_dir, arch="win32", extra_env=None, temp_dir=None,
                 copy_exe=True, packages=PACKAGE_NAMES):
        self.arch = arch
        self.packages = packages
        self.work = Path(work_dir)
        if self.work.exists():
            shutil.rmtree(self.work)
        self.work.mkdir(parents=True)
        self.temp = Path(temp_dir) if temp_dir else self.work / "temp"
        self.temp.mkdir(parents=True, exist_ok=True)
        self.exe = self.work / Path(exe).name if copy_exe else Path(exe)
        if copy_exe:
            shutil.copy(exe, self.exe)
        self.exit_file = self.work / "exit-code"
        self.before = installer_entries(arch, packages)
        self.extra_env = extra_env or {}
        self.proc = None
        self.shots = 0

    def start(self):
        args = [str(TOOLS / "zvtool.exe"), "run", win_path(self.exit_file),
                "--temp", win_path(self.temp) + "\\", win_path(self.exe)]
        self.proc = subprocess.Popen(["wine", *args],
                                     env=env.wine_environ(self.arch, self.extra_env),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        return self

    def info(self):
        return WindowInfo.parse(tool("info", CLASS_NAME, arch=self.arch))

    def wait_window(self, predicate=lambda info: info["visible"], timeout=40):
        """Polls the window until `predicate` holds; returns its info."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            last = self.info()
            if last is not None and predicate(last):
                return last
            if self.exited():
                break
            time.sleep(0.1)
        raise AssertionError("window never reached the expected state; last seen: %r" % (last,))

    def screenshot(self, name=None):
        self.shots += 1
        path = self.work / ("%s.png" % (name or "shot-%02d" % self.shots))
        subprocess.run(["import", "-window", "root", str(path)], env={"DISPLAY": env.display(),
                       "PATH": os.environ["PATH"]}, check=True, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=30)
        return Screenshot(path)

    def client_shot(self, info=None, name=None):
        """A screenshot and the client rectangle in its coordinates."""
        info = info or self.info()
        shot = self.screenshot(name)
        return shot, (info["cx"], info["cy"], info["cx"] + info["cw"], info["cy"] + info["ch"])

    def close(self):
        """What the close box does: WM_CLOSE to the window."""
        return tool("close", CLASS_NAME, arch=self.arch)

    def exited(self):
        return self.exit_file.exists() and self.exit_file.read_text().strip() != ""

    def wait_exit(self, timeout=60):
        """The installer's full 32-bit exit code."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.exited():
                self.proc.wait(timeout=10)
                return int(self.exit_file.read_text())
            time.sleep(0.05)
        raise AssertionError("installer still running after %ss" % timeout)

    def kill(self):
        """Last-resort clean-up for a test that failed midway: the
        installer ended and its work directories removed, so that later
        tests, which look for the first ZVinsW* there is, never meet
        them."""
        if self.proc and self.proc.poll() is None:
            wine(["taskkill", "/f", "/im", self.exe.name], arch=self.arch, timeout=20)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
            for work in self.work_dirs():
                shutil.rmtree(work, ignore_errors=True)

    def work_dirs(self):
        """The installer's work directories made since this run was set up."""
        return sorted(p for p in installer_entries(self.arch, self.packages) - self.before
                      if p.name.startswith("ZVinsW"))

    def work_files(self):
        """The names inside this run's work directories."""
        return sorted(p.name for work in self.work_dirs() for p in work.iterdir())

    def leftovers(self):
        """What is left in the user's temporary directory, and what the run
        left in the system's or in the Internet cache, by name."""
        return sorted([p.name for p in self.temp.iterdir()]
                      + [p.name for p in installer_entries(self.arch, self.packages) - self.before])


class AccessibleEvents:
    """What a screen reader hears from windows of the installer's class,
    from another process (tests/tools/accessible_events): started before
    the installer, it takes each value, name and alert event as it comes,
    with the role, value and name the window's accessible object then
    gives and the window's title. Use as a context manager; it ends once a
    window it heard from is gone, or after `seconds`."""

    FIELDS = ("event", "object", "role", "value", "name", "title", "raised", "read")

    def __init__(self, seconds=90, arch="win32"):
        self.args = [str(TOOLS / "accessible_events.exe"), CLASS_NAME, str(seconds)]
        self.arch = arch
        self.heard = []
        self.changed = threading.Condition()

    def __enter__(self):
        self.proc = subprocess.Popen(["wine", *self.args], env=env.wine_environ(self.arch),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        if self.proc.stdout.readline().strip() != "ready":
            self.proc.kill()
            raise AssertionError("the listener never started")
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        return self

    def _read(self):
        for line in self.proc.stdout:
            fields = line.rstrip("\n").split("\t")
            event = dict(zip(self.FIELDS, fields))
            for key in ("event", "object", "raised", "read"):
                if key in event:
                    event[key] = int(event[key], 0)
            if "role" in event and event["role"] != "error":
                event["role"] = int(event["role"])
            with self.changed:
                self.heard.append(event)
                self.changed.notify_all()

    def wait_for(self, predicate, timeout=30):
        """The first event heard for which `predicate` holds."""
        with self.changed:
            found = self.changed.wait_for(
                lambda: next((e for e in self.heard if predicate(e)), None), timeout)
        if found is None:
            raise AssertionError("never heard it; heard: %r" % (self.heard,))
        return found

    def __exit__(self, *exc):
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(timeout=5)
        self.proc.stdout.close()


def work_dir(test_id):
    """A folder for one test's files, under the build tree."""
    return env.BUILD / "e2e-runs" / test_id.replace("/", "_")


def colour_share(pixels, colour, tolerance=8):
    """The fraction of pixels within `tolerance` of `colour`."""
    if not pixels:
        return 0.0
    near = sum(1 for p in pixels if all(abs(a - b) <= tolerance for a, b in zip(p, colour)))
    return near / len(pixels)
