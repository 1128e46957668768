#!/usr/bin/python3
"""A whole install, watched: builds a small package with
maker/make-package (an LZX cabinet holding a demo Setup.exe that
copies a file into "C:\\Program Files\\Zelvio Viewer", signed by the test
publisher, whose key the demo installer pins and whose root the demo's
Wine prefix trusts), serves it from 127.0.0.1, runs the real installer
under Wine and reports every state its window goes through, the exit code
and what was left on disk.

The window appears on $DISPLAY when that display can be reached, else in
a private Xvfb; either way screenshots of it go to BUILD/demo/ about every
0.3 s. Wine runs in its own prefix under BUILD/demo/wine, so a test run
at the same time is not disturbed.

    /usr/bin/python3 scripts/demo.py [--build BUILD] [--xvfb]

maker/release's `try` watches a maker's own release with the same
Watcher, watch and report.
"""
import argparse
import fnmatch
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
INTERVAL = 0.3
DOWNLOAD_SECONDS = 3.0
SETUP_CLASS = "ZVDemoSetup"

README = b"""Zelvio Viewer
=============

Installed by the Zelvio Viewer web installer demo.
"""


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=str(REPO / "build"), help="CMake build directory")
    parser.add_argument("--xvfb", action="store_true",
                        help="use a private Xvfb even when $DISPLAY can be reached")
    return parser.parse_args()


def reachable_display():
    name = os.environ.get("DISPLAY")
    if not name:
        return None
    try:
        probe = subprocess.run(["xdpyinfo", "-display", name], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=5)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return name if probe.returncode == 0 else None


def load_harness(build, wine_dir, port):
    """The test harness (tests/e2e/zvtest) working in `build`, with its Wine
    prefixes in `wine_dir`: its modules read these when first imported."""
    os.environ.update({"ZV_BUILD_DIR": str(build), "ZV_WINE_DIR": str(wine_dir),
                       "ZV_TEST_PORT": str(port)})
    sys.path.insert(0, str(REPO / "tests" / "e2e"))
    from zvtest import cabinets, env, server, session
    return cabinets, env, server, session


def cached_port(build):
    """The port the test installers were built for."""
    cache = (build / "CMakeCache.txt").read_text()
    found = re.search(r"^ZV_TEST_PORT:\w+=(\d+)$", cache, re.M)
    return found.group(1) if found else "18431"


class Watcher:
    """Polls the installer window, classifies what it shows and keeps a
    screenshot of it each time."""

    def __init__(self, run, session, env, shots):
        self.run, self.session, self.env, self.shots = run, session, env, shots
        self.count = 0
        self.last = None
        self.started = time.monotonic()
        self.states = []
        self.work_dirs = set()  # where the installer was seen working
        self.seen_window = False

    def grab(self, info):
        """A screenshot of the whole window; the client area within it."""
        from PIL import Image
        self.count += 1
        path = self.shots / ("shot-%03d.png" % self.count)
        geometry = "%dx%d+%d+%d" % (info["w"], info["h"], info["x"], info["y"])
        subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", str(path)],
                       env=dict(os.environ, DISPLAY=self.env.display()), check=True,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        image = Image.open(path).convert("RGB")
        left, top = info["cx"] - info["x"], info["cy"] - info["y"]
        return image.crop((left, top, left + info["cw"], top + info["ch"]))

    def classify(self, info):
        if info is None:
            # Before its window first shows (slow under an emulator) the
            # installer is starting, not gone.
            return "gone" if self.seen_window else "starting"
        self.seen_window = True
        if not info["visible"]:
            setup = self.session.WindowInfo.parse(
                self.session.tool("info", SETUP_CLASS, arch=self.run.arch))
            if setup and setup["visible"]:
                self.grab(setup)
                return "hidden; Setup's window %r shown" % setup["title"]
            return "hidden"
        client = self.grab(info)
        after = self.run.info()
        if after is None or not after["visible"]:
            # Hidden while the screenshot was taken: the picture is stale.
            return self.classify(after)
        pixels = list(client.getdata())
        share = self.session.colour_share
        if share(pixels, (255, 0, 0)) > 0.85:
            return "red (error display)"
        # The bar fills the full height from the left: its share of the
        # top row is the progress.
        row = [client.getpixel((x, 1)) for x in range(client.width)]
        blue = share(row, (0, 0, 255))
        if blue > 0:
            return "progress, bar at %d %%" % round(blue * 100)
        if share(pixels, (0, 0, 0)) > 0.5:
            return "black (before any progress)"
        return "other"

    def step(self):
        self.work_dirs.update(self.run.work_dirs())
        info = self.run.info()
        state = self.classify(info)
        if state != self.last:
            print("%6.1f s  %s" % (time.monotonic() - self.started, state), flush=True)
            self.states.append(state)
            self.last = state
        return state


def make_signed_package(installer, demo, setup, pki):
    """The demo package, made and signed the way a maker does it; prints
    who signed it and whether `installer` pins its signer. Returns the
    package and whether it does."""
    stage = demo / "package"
    shutil.rmtree(stage, ignore_errors=True)
    (stage / "app").mkdir(parents=True)
    shutil.copy(setup, stage / "Setup.exe")
    (stage / "app" / "Zelvio Viewer.txt").write_bytes(README)
    (stage / "app" / "zelvio.ini").write_bytes(b"[Viewer]\r\nStartPage=welcome\r\n")
    cab = demo / "setupZVViewer.cab"
    made = subprocess.run([str(REPO / "maker" / "make-package"), "-o", str(cab), str(stage),
                           str(pki / "signer-chain.pem"), str(pki / "signer.key")],
                          check=True, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                          env=dict(os.environ, ZVCAB=os.environ.get(
                              "ZVCAB", str(demo.parent / "maker" / "zvcab"))))
    pins = dict(line.split(" ", 1) for line in made.stdout.split("\n") if line)
    checked = subprocess.run(["osslsigncode", "verify", "-in", str(cab), "-CAfile",
                              str(pki / "root.pem")], capture_output=True, text=True,
                             stdin=subprocess.DEVNULL)
    signer = re.search(r"Signer #0:\s+Subject: (.*)\n\s+Issuer : (.*)", checked.stdout)
    print("package signed by %s (issued by %s), SHA-256 %s"
          % (signer.group(1), signer.group(2), pins["sha256"]), flush=True)
    # The installer carries its pins as bytes: what it runs is what is in it.
    pinned = bytes.fromhex(pins["signer"]) in installer.read_bytes()
    print("signer pin %s, %s into the installer" % (
        pins["signer"], "built" if pinned else "NOT built"), flush=True)
    return cab.read_bytes(), pinned


def watch(run, watcher, seconds=120):
    """Runs the installer to its end (for at most `seconds`), reporting
    each state; an error display is closed after a moment, as a user
    would. Returns the exit code."""
    try:
        run.start()
        deadline = time.monotonic() + seconds
        while not run.exited() and time.monotonic() < deadline:
            began = time.monotonic()
            if watcher.step().startswith("red"):
                time.sleep(2)
                print("closing the error display", flush=True)
                run.close()
                break
            time.sleep(max(0.0, INTERVAL - (time.monotonic() - began)))
        code = run.wait_exit(timeout=30)
        watcher.step()
        return code
    finally:
        run.kill()


def report(run, watcher, session):
    """Prints where the run worked and what it left there; returns what it
    left, by name."""
    for work in sorted(watcher.work_dirs):
        print("worked in C:\\windows\\%s\\%s: %s" % (
            work.parent.name, work.name, "still there" if work.exists() else "removed"))
    user_temp = sorted(p.name for p in run.temp.iterdir())
    print("user's temporary directory %s: %s" % (session.win_path(run.temp),
                                                 ", ".join(user_temp) or "untouched, empty"))
    left = run.leftovers()
    cached = [name for name in left if any(fnmatch.fnmatch(name, p) for p in run.packages)]
    print("user's Internet cache: %s" % (", ".join(cached) or "no copy of the package"))
    return left


def main():
    args = parse_args()
    build = Path(args.build).resolve()
    demo = build / "demo"
    installer = build / "tests" / "installers" / "zv_t_both.exe"
    setup = build / "tests" / "tools" / "demo_setup.exe"
    missing = [p for p in (installer, setup, build / "tests" / "tools" / "zvtool.exe")
               if not p.exists()]
    if missing:
        sys.exit("not built yet (%s); run: make build" % ", ".join(map(str, missing)))

    cabinets, env, server_module, session = load_harness(build, demo / "wine", cached_port(build))
    PATH32, PATH64 = server_module.PATH32, server_module.PATH64

    display = None if args.xvfb else reachable_display()
    print("display: %s" % (display or "private Xvfb"), flush=True)
    print("preparing Wine in %s (the first time takes a minute)" % env.WINE_DIR, flush=True)
    env.start(display, arches=("win32",))
    try:
        package, pinned = make_signed_package(installer, demo, setup, cabinets.PKI)
        installed = env.prefix("win32") / "drive_c" / "Program Files" / "Zelvio Viewer"
        shutil.rmtree(installed, ignore_errors=True)
        for old in demo.glob("shot-*.png"):
            old.unlink()

        server = server_module.PackageServer({PATH32: package, PATH64: package})
        chunk = len(package) // 20 + 1
        for path in (PATH32, PATH64):
            server.behave(path, "trickle", chunk=chunk, delay=DOWNLOAD_SECONDS / 20)
        try:
            server.__enter__()
        except OSError as error:
            sys.exit("cannot serve on 127.0.0.1:%s (%s); is a test run using it?"
                     % (server.port, error.strerror))
        try:
            print("serving a %d-byte LZX cabinet at http://127.0.0.1:%s%s"
                  % (len(package), server.port, PATH32), flush=True)
            run = session.InstallerRun(installer, demo / "run")
            watcher = Watcher(run, session, env, demo)
            code = watch(run, watcher)
            print("requests served: %s" % ", ".join(server.requests))
        finally:
            server.__exit__(None, None, None)

        print("exit code: %d" % code)
        if code == 0:
            # Setup.exe runs only once the signature and the signer pin
            # have been verified.
            print("signature verified by the installer (WinVerifyTrust%s)"
                  % (", signer pin matched" if pinned else "; no signer pin"))
        left = report(run, watcher, session)
        if installed.is_dir():
            for item in sorted(installed.iterdir()):
                print("installed: C:\\Program Files\\Zelvio Viewer\\%s (%d bytes)"
                      % (item.name, item.stat().st_size))
        else:
            print("installed: nothing under C:\\Program Files\\Zelvio Viewer")
        print("screenshots: %d in %s" % (watcher.count, demo))
        return 0 if code == 0 and not left and installed.is_dir() else 1
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main())
