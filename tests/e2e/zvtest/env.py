"""The Wine test environment: an Xvfb display, one prefix per architecture
and a persistent wineserver for each, all kept in the build tree.

    python3 -m zvtest.env start|stop
    python3 -m zvtest.env run PROGRAM [ARGS...]   (ZV_WINE_ARCH picks the prefix)

A persistent wineserver matters: without one, each wine command leaves
helper processes holding the caller's pipes for seconds after it ends.
"""
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
BUILD = Path(os.environ.get("ZV_BUILD_DIR", REPO / "build")).resolve()
WINE_DIR = Path(os.environ.get("ZV_WINE_DIR", BUILD / "wine")).resolve()
ARCHES = ("win32", "win64")
SCREEN = (1024, 768)

# Registry settings of every prefix: unmanaged windows (Wine draws the
# caption and a closed window's process ends at once), Times New Roman
# mapped to its metric twin, and no crash dialog to block a test.
_REGISTRY = [
    (r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"),
    (r"HKCU\Software\Wine\Fonts\Replacements", "Times New Roman", "REG_SZ", "Liberation Serif"),
    (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
]


# No Mono or Gecko to fetch; and a process that crashes just ends: Wine's
# automatic debugger, which would attach to it, can hang for ever under an
# emulator, and with it `wineserver -w` and all that waits for the prefix.
NO_DOWNLOADS_NO_DEBUGGER = "mscoree,mshtml=;winedbg.exe=d"


def prefix(arch):
    return WINE_DIR / arch


def display():
    return (WINE_DIR / "display").read_text().strip()


def wine_environ(arch="win32", extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(prefix(arch)),
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": NO_DOWNLOADS_NO_DEBUGGER,
        "DISPLAY": display(),
    })
    env.pop("WINEARCH", None)
    if extra:
        env.update(extra)
    return env


def _loader(arch):
    """wine picks its loader itself, except for booting a 64-bit prefix."""
    return "/usr/lib/wine/wine64" if arch == "win64" else "wine"


def _alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def _ensure_display():
    pid_file = WINE_DIR / "xvfb.pid"
    if pid_file.exists() and _alive(int(pid_file.read_text())):
        return
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN,
         "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        raise RuntimeError("Xvfb did not start")
    (WINE_DIR / "display").write_text(":%s\n" % number)
    pid_file.write_text(str(proc.pid))


# Under an emulator (qemu-user, where the kernel runs no 32-bit programs) a
# Wine process now and then never ends; every step is bounded, and a
# prefix whose creation hung is made again from nothing.
_STEP_SECONDS = 300
_BOOT_ATTEMPTS = 3


def _step(args, arch, timeout=_STEP_SECONDS):
    subprocess.run(args, env=wine_environ(arch), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                   timeout=timeout)


def _wineserver(arch, *args):
    _step(["wineserver", *args], arch)


def _kill_prefix(arch):
    """Ends every process of the prefix: by its wineserver, then by environment."""
    try:
        _step(["wineserver", "-k"], arch, timeout=30)
    except (subprocess.SubprocessError, OSError):
        pass
    mark = ("WINEPREFIX=%s" % prefix(arch)).encode()
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and mark in (entry / "environ").read_bytes().split(b"\0"):
                os.kill(int(entry.name), signal.SIGKILL)
        except OSError:
            pass


def _boot_prefix(arch):
    """Starts creating the prefix; returns the process."""
    env = wine_environ(arch, {"WINEARCH": arch})
    return subprocess.Popen([_loader(arch), "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _finish_prefix(arch, boot):
    if boot.wait(timeout=_STEP_SECONDS) != 0:
        raise RuntimeError("wineboot failed for " + arch)
    _wineserver(arch, "-w")
    _wineserver(arch, "-p")
    for key, name, kind, value in _REGISTRY:
        _step(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"], arch)
    (prefix(arch) / ".zv-ready").write_text("ok\n")


def _trust_test_roots(arch):
    """The test PKI's roots in the machine's trusted root store, as the
    real roots of a publisher and of a TLS server would be."""
    zvtool = BUILD / "tests" / "tools" / "zvtool.exe"
    for root in ("root.der", "other-root.der"):
        der = BUILD / "tests" / "pki" / root
        _step([_loader(arch), str(zvtool), "trustroot", "Z:" + str(der).replace("/", "\\")], arch)


def _ready(arch):
    return (prefix(arch) / ".zv-ready").exists()


def running():
    """Whether this environment's own Xvfb is up: then someone else (the
    tests' fixture) started it, and stops it too."""
    pid_file = WINE_DIR / "xvfb.pid"
    return pid_file.exists() and _alive(int(pid_file.read_text()))


def start(display_name=None, arches=ARCHES):
    """`display_name`: an X display to use instead of a private Xvfb."""
    WINE_DIR.mkdir(parents=True, exist_ok=True)
    if display_name:
        (WINE_DIR / "display").write_text(display_name + "\n")
    else:
        _ensure_display()
    # The first attempt boots both prefixes at once; a retry, one alone.
    booting = {arch: _boot_prefix(arch) for arch in arches if not _ready(arch)}
    for arch in arches:
        for attempt in range(1, _BOOT_ATTEMPTS + 1):
            try:
                if not _ready(arch):
                    _finish_prefix(arch, booting.pop(arch, None) or _boot_prefix(arch))
                else:
                    _wineserver(arch, "-p")
                _trust_test_roots(arch)
                break
            except (subprocess.SubprocessError, RuntimeError) as error:
                print("%s: attempt %d: %s" % (arch, attempt, error), flush=True)
                _kill_prefix(arch)
                if attempt == _BOOT_ATTEMPTS:
                    raise
                if not _ready(arch):  # half made: made again from nothing
                    shutil.rmtree(prefix(arch), ignore_errors=True)


def stop():
    for arch in ARCHES:
        if prefix(arch).exists() and (WINE_DIR / "display").exists():
            _kill_prefix(arch)
    pid_file = WINE_DIR / "xvfb.pid"
    if pid_file.exists():
        pid = int(pid_file.read_text())
        if _alive(pid):
            os.kill(pid, signal.SIGTERM)
            for _ in range(50):
                if not _alive(pid):
                    break
                time.sleep(0.1)
        pid_file.unlink()


def run(args):
    """Replaces this process with `wine args` in the test environment."""
    os.execvpe("wine", ["wine", *args], wine_environ(os.environ.get("ZV_WINE_ARCH", "win32")))


if __name__ == "__main__":
    if sys.argv[1] == "run":
        run(sys.argv[2:])
    {"start": start, "stop": stop}[sys.argv[1]]()
