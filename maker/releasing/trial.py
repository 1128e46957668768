"""`try`: a release's installer run under Wine against its own packages,
served on 127.0.0.1."""
import os
import shutil
import sys
import tempfile
import urllib.parse
from pathlib import Path

from .common import PACKAGES, SCRIPTS, Failure, say, sha256
from .installer import build_installer, check_image
from .manifest import Manifest

# Where Setup.exe installs the application, 64- and 32-bit.
INSTALL_FOLDERS = ("Program Files/Zelvio Viewer", "Program Files (x86)/Zelvio Viewer")


def snapshot(drive_c):
    """Each file under drive_c but in the temporary directories, which the
    run reports on its own, and urlmon's cache, cookies and history:
    {path: (size, ctime)}."""
    skip = {drive_c / "windows" / "temp", drive_c / "windows" / "SystemTemp"}
    files = {}
    for top, folders, names in os.walk(drive_c):
        here = Path(top)
        local = here.name == "Local" and here.parent.name == "AppData"
        folders[:] = [f for f in folders if here / f not in skip
                      and not (local and f in ("Temp", "Microsoft"))]
        for name in names:
            try:
                status = (here / name).lstat()
            except OSError:
                continue
            files[here / name] = (status.st_size, status.st_ctime_ns)
    return files


def try_release(args):
    out = Path(args.out).absolute()
    manifest = Manifest.read(out)
    settings = manifest.settings
    packages = {}
    for arch, (_, key, _) in PACKAGES.items():
        url = settings[key]
        if not url:
            continue
        entry = next((f for f in manifest.files if f[5] == url), None)
        data = (out / entry[0]).read_bytes() if entry and (out / entry[0]).is_file() else None
        if data is None or (len(data), sha256(data)) != (entry[1], entry[2]):
            raise Failure("%s/%s is not the package its manifest lists"
                          % (out, entry[0] if entry else "?"))
        packages[arch] = (urllib.parse.urlsplit(url).path, data, entry[0])
    if "-arm64" in packages:
        say("%s, the ARM64 package, cannot be tried here: Wine runs x86 and x64 programs only, "
            "and the installer takes it on ARM64 Windows alone" % packages["-arm64"][2])
    build = Path(args.build).absolute()
    tool = build / "tests" / "tools" / "zvtool.exe"
    if not tool.exists():
        raise Failure("%s is not a test build (no %s); run: make build" % (build, tool))
    wine_dir = Path(args.wine).absolute() if args.wine else build / "demo" / "wine"

    sys.path.insert(0, str(SCRIPTS))
    import demo
    _, env, server_module, session = demo.load_harness(build, wine_dir, 0)
    server = server_module.PackageServer({path: data for path, data, _ in packages.values()},
                                         port=0)
    for path, data, _ in packages.values():
        server.behave(path, "trickle", chunk=len(data) // 20 + 1,
                      delay=demo.DOWNLOAD_SECONDS / 20)
    work = build / "try"
    scratch = Path(tempfile.mkdtemp(prefix="zvtry-"))
    # Another's running environment (the tests') keeps its own display.
    started_here = not env.running()
    display = None if args.xvfb or not started_here else demo.reachable_display()
    results = []
    try:
        with server:
            local = dict(settings)
            for arch, (path, data, name) in packages.items():
                local[PACKAGES[arch][1]] = "http://127.0.0.1:%d%s" % (server.port, path)
            say("building installer %s as released, its addresses on 127.0.0.1:%d"
                % (settings["ZV_VERSION"], server.port))
            installer = build_installer(scratch / "build", local, "zvwebsetup")[0]
            image = installer.read_bytes()
            check_image(image, local)
            say("it carries %s" % ", ".join(
                ["the hash pins"] * any(settings[pin] for _, _, pin in PACKAGES.values())
                + ["signer pin " + pin for pin in settings["ZV_SIGNER_SHA256"].split(";")]
                + ["the floor " + settings["ZV_SIGNED_NOT_BEFORE"]]
                * bool(settings["ZV_SIGNED_NOT_BEFORE"])))
            if started_here:
                say("display: %s" % (display or "private Xvfb"),
                    "preparing Wine in %s (the first time takes minutes)" % env.WINE_DIR)
                env.start(display, arches=("win32", "win64"))
            else:
                # Started again, its persistent wineservers would be killed.
                say("using the Wine environment already running in %s" % env.WINE_DIR)
            for arch in ("win32", "win64"):
                say("", "== %s prefix" % arch)
                drive_c = env.prefix(arch) / "drive_c"
                # The prefixes stay from run to run: each run starts from an
                # empty install folder, though not from a new Windows.
                for folder in INSTALL_FOLDERS:
                    if (drive_c / folder).exists():
                        shutil.rmtree(drive_c / folder)
                        say("removed C:\\%s, an earlier run's" % folder.replace("/", "\\"))
                before = snapshot(drive_c)
                del server.requests[:]
                # urlmon caches "name[1].cab" for "name.cab".
                run = session.InstallerRun(installer, work / arch, arch=arch,
                                           packages=tuple(Path(name).stem + "*" for _, _, name
                                                          in packages.values()))
                watcher = demo.Watcher(run, session, env, run.work)
                code = demo.watch(run, watcher, seconds=600)
                say("requests served: %s" % (", ".join(server.requests) or "none"),
                    "exit code: %d" % code)
                if code == 0:
                    # Setup.exe runs only once every check has passed.
                    say("the installer accepted the package: signature (WinVerifyTrust), "
                        "pins and floor")
                left = demo.report(run, watcher, session)
                after = snapshot(drive_c)
                changed = sorted(p for p in after if before.get(p) != after[p])
                for path in changed[:30]:
                    say("installed: C:\\%s (%d bytes)" % (
                        str(path.relative_to(drive_c)).replace("/", "\\"), after[path][0]))
                if len(changed) > 30:
                    say("installed: %d more files" % (len(changed) - 30))
                if not changed:
                    say("installed: nothing under C:\\")
                say("screenshots: %d in %s" % (watcher.count, run.work))
                results.append((arch, code, left))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
        if started_here:
            env.stop()
    say("")
    for arch, code, left in results:
        say("%s: %s" % (arch, "installed, nothing left" if code == 0 and not left else
                        "FAILED (exit code %d%s)" % (code, ", left " + ", ".join(left)
                                                     if left else "")))
    return 0 if results and all(code == 0 and not left for _, code, left in results) else 1
