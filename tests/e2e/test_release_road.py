"""The maker's road as maker/release walks it, with the test PKI: a first
release (PKCS#12, every path relative), a second with new packages and a
new version and an ARM64 package into the same folder (a key on a token,
time-stamped by a server an hour behind the maker's clock): it carries the
new pins and version, its floor is the stamps' time, and `try` installs it
under Wine in both prefixes, saying that it cannot try the ARM64 package.
Stale and failed states never pass: a stray file in the release folder, a
failing or lying `osslsigncode remove-signature`, a stale package under
`try`, a floor not above the release before's times. Nor do a maker's
mistakes, refused before anything is signed: a version not above the
release before, a package address whose bytes its installer pins, a bad
second application folder, a Setup.exe built for another machine than its
package's, a PIN file others can read. `check` compares what the local
server publishes with the manifest, and each package's times with the
floor; before the upload it refuses a newer installer, or anything else,
where the installer goes. And make-package refuses a symbolic link and
finds Setup.exe under any case; the signing refuses a relative path at
configure."""
import calendar
import hashlib
import os
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import pefile

from zvtest import cabinets, env, maker
from zvtest.server import PackageServer, TimeStampServer, test_port

PKI = cabinets.PKI
RELEASE = env.REPO / "maker" / "release"
DEMO_SETUP = env.BUILD / "tests" / "tools" / "demo_setup.exe"
DEMO_SETUP64 = env.BUILD / "tests" / "tools" / "demo_setup64.exe"
NAMES = ("setupZVViewer.cab", "setupZVViewer64.cab", "zvwebsetup.exe")
ARM64 = "setupZVViewerARM64.cab"
TIME = "%Y-%m-%dT%H:%M:%SZ"
# The second release's files, in upload order.
NAMES2 = NAMES[:2] + (ARM64,) + NAMES[2:]
# Each prefix's own package: x86 in the 32-bit one, x64 in the 64-bit one.
INSTALLED = {"win32": "Program Files/Zelvio Viewer/Zelvio Viewer.txt",
             "win64": "Program Files/Zelvio Viewer/Zelvio Viewer.txt"}

# osslsigncode, logging each command; remove-signature fails as it does on
# an existing file, or gives other bytes than the signed file's image.
SHIM = """#!/bin/sh
echo "$1" >>"$ZV_SHIM_LOG"
[ "$1" = remove-signature ] && [ -n "$ZV_SHIM" ] || exec /usr/bin/osslsigncode "$@"
if [ "$ZV_SHIM" = fail ]; then
    echo "Overwriting an existing file is not supported" >&2
    exit 255
fi
/usr/bin/osslsigncode "$@" || exit
while [ $# -gt 1 ]; do [ "$1" = -out ] && printf x >>"$2"; shift; done
"""


def seconds(moment):
    return calendar.timegm(time.strptime(moment, TIME))


def digest(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def contents(folder):
    return {p.name: p.read_bytes() for p in Path(folder).iterdir()}


class ReleaseRoadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = Path(tempfile.mkdtemp(prefix="release-road-", dir=env.BUILD))
        cls.addClassCleanup(shutil.rmtree, cls.top)
        cls.publisher = subprocess.run([env.REPO / "maker" / "signer-pin", PKI / "signer.pem"],
                                       check=True, capture_output=True, text=True).stdout.strip()

    def release(self, *args, extra_env=None, cwd=None):
        environ = dict(os.environ, **(extra_env or {}))
        return subprocess.run([str(RELEASE), *map(str, args)], cwd=cwd or self.top, env=environ,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=600)

    def app(self, name, text, machine="x86"):
        """An application folder: the demo's Setup.exe for `machine`, which
        copies app\\ into Program Files, and one file saying which release
        it is. The ARM64 one stands in, marked ARM64: Wine runs no ARM64
        program, and the installer never takes that package under Wine."""
        folder = self.top / name
        (folder / "app").mkdir(parents=True)
        setup = bytearray((DEMO_SETUP64 if machine == "x64" else DEMO_SETUP).read_bytes())
        if machine == "ARM64":
            header = int.from_bytes(setup[0x3C:0x40], "little")
            setup[header + 4:header + 6] = (0xAA64).to_bytes(2, "little")
        (folder / "Setup.exe").write_bytes(setup)
        (folder / "app" / "Zelvio Viewer.txt").write_text(text)
        return folder

    def addresses(self, version, arm64=False):
        base = "http://127.0.0.1:%d/%s/" % (test_port(), version)
        return ["--url32", base + NAMES[0], "--url64", base + NAMES[1],
                "--installer-url", base + NAMES[2]] + ["--url-arm64", base + ARM64] * arm64

    def assert_release(self, out, version, names=NAMES):
        """OUT holds exactly the release's files and its manifest, which
        describes them; the installer is signed by the publisher and
        carries the packages' hash pins, the signer pin and the version."""
        self.assertEqual(sorted(names + ("manifest.txt",)), sorted(contents(out)))
        files = {}
        for line in (out / "manifest.txt").read_text().splitlines():
            if line.startswith("file "):
                name, size, sha, signer, signed, address = line.split()[1:]
                files[name] = (int(size), sha, signer, address)
        self.assertEqual(list(names), list(files))
        for name, (size, sha, signer, address) in files.items():
            self.assertEqual((size, sha, self.publisher), ((out / name).stat().st_size,
                                                            digest(out / name), signer), name)
            self.assertIn("/%s/%s" % (version, name), address)
        verified = subprocess.run(["osslsigncode", "verify", "-in", str(out / names[-1]),
                                   "-CAfile", str(PKI / "root.pem")], capture_output=True, text=True)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)
        image = (out / names[-1]).read_bytes()
        for pin in [digest(out / name) for name in names[:-1]] + [self.publisher]:
            self.assertIn(bytes.fromhex(pin), image)
        strings = maker.version_strings(pefile.PE(data=image))
        self.assertEqual((version, version), (strings["FileVersion"], strings["ProductVersion"]))
        return image

    def test_two_releases_into_one_folder_tried_and_checked(self):
        out = self.top / "out"
        password = self.top / "keys" / "password"
        password.parent.mkdir()
        password.write_text("correct horse\n")
        password.chmod(0o600)
        subprocess.run(["openssl", "pkcs12", "-export", "-in", str(PKI / "signer.pem"),
                        "-certfile", str(PKI / "ca.pem"), "-inkey", str(PKI / "signer.key"),
                        "-passout", "file:%s" % password, "-out", str(password.parent / "p.p12")],
                       check=True, capture_output=True)

        # Run from a folder of its own, everything given relative to it.
        self.app("app1-32", "release 1, 32-bit")
        self.app("app1-64", "release 1, 64-bit", "x64")
        (self.top / "work").mkdir()
        made = self.release("make", "-o", "../out", "--version", "1.0.0",
                            "--app32", "../app1-32", "--app64", "../app1-64",
                            *self.addresses("1.0.0"), "--pkcs12", "../keys/p.p12",
                            "--password-file", "../keys/password", cwd=self.top / "work")
        self.assertEqual(0, made.returncode, made.stderr)
        first = self.assert_release(out, "1.0.0")
        release1 = contents(out)

        app32 = self.app("app2-32", "release 2, 32-bit")
        app64 = self.app("app2-64", "release 2, 64-bit", "x64")
        second = ["make", "-o", out, "--version", "1.0.1", "--app32", app32, "--app64", app64,
                  "--app-arm64", self.app("app2-arm64", "release 2, ARM64", "ARM64"),
                  *self.addresses("1.0.1", arm64=True)]
        pem = ["--cert", PKI / "signer-chain.pem", "--key", PKI / "signer.key"]
        token = cabinets.softhsm_token(self.top / "token")
        on_token = ["--module", token.module, "--key", token.uri, "--password-file", token.pin_file]
        open_pin = self.top / "open-pin"
        shutil.copyfile(token.pin_file, open_pin)
        open_pin.chmod(0o640)
        no_setup = self.top / "no-setup"
        (no_setup / "app").mkdir(parents=True)
        first_url64 = self.addresses("1.0.0")[3]
        shim = self.top / "shim"
        shim.mkdir()
        (shim / "osslsigncode").write_text(SHIM)
        (shim / "osslsigncode").chmod(0o755)
        log = self.top / "osslsigncode.log"
        stray = out / "unsigned.exe"
        stray.write_bytes(first)
        # Options after the second release's own (the last of an option
        # counts), osslsigncode's remove-signature, what must be said; only
        # the remove-signature cases get as far as signing.
        failures = [
            ("a stray file in the folder", [], "", "unsigned.exe, which no release put there"),
            ("remove-signature fails", [], "fail", "osslsigncode remove-signature failed (exit 255)"),
            ("remove-signature gives other bytes", [], "alter",
             "without its signature is not the reproducible image"),
            ("an address whose bytes the release before pins", ["--url64", first_url64], "",
             "every 1.0.0 installer in the field runs only those very bytes"),
            ("the same version", ["--version", "1.0.0"], "", "--version 1.0.0 is not above 1.0.0"),
            ("a lower version", ["--version", "0.9"], "", "--version 0.9 is not above 1.0.0"),
            ("a bad second application folder", ["--app64", no_setup], "",
             "%s has no Setup.exe at its root" % no_setup),
            ("--replace-unpublished lets the version and address through",
             ["--version", "1.0.0", "--url64", first_url64, "--app64", no_setup,
              "--replace-unpublished"], "", "%s has no Setup.exe at its root" % no_setup),
            ("a PIN file others can read", on_token + ["--password-file", open_pin], "",
             "(mode 640): chmod 600 %s" % open_pin),
            ("a 64-bit Setup.exe as the 32-bit package", ["--app32", app64], "",
             "--app32: %s/Setup.exe is built for x64 (0x8664), and the 32-bit package needs "
             "x86 (0x14C)" % app64),
            ("an x64 Setup.exe as the ARM64 package", ["--app-arm64", app64], "",
             "is built for x64 (0x8664), and the ARM64 package needs ARM64 (0xAA64) or "
             "ARM64X (0xA64E)"),
        ]
        for label, options, remove_signature, message in failures:
            with self.subTest(label):
                log.write_text("")
                before = contents(out)
                failed = self.release(*second, *pem, *options, extra_env=dict(
                    token.env, PATH="%s:%s" % (shim, os.environ["PATH"]), ZV_SHIM=remove_signature,
                    ZV_SHIM_LOG=str(log)))
                self.assertEqual(1, failed.returncode, failed.stdout + failed.stderr)
                # The cause comes first.
                self.assertIn(message, next(line for line in failed.stderr.splitlines()
                                            if line.startswith("maker/release make: ")))
                self.assertEqual(bool(remove_signature), "sign" in log.read_text().split())
                self.assertEqual(before, contents(out), "the release folder changed")
                self.assertEqual([], list(self.top.glob(".out.*")), "half-made folders left")
            stray.unlink(missing_ok=True)

        with self.subTest("a floor not above the release before's times"):
            # The first release's 64-bit package, stamped tomorrow (its
            # maker's time-stamping server was a day ahead): Windows judges
            # it as of then, and a floor of today would let it through.
            tomorrow = time.strftime(TIME, time.gmtime(time.time() + 86400))
            (out / NAMES[1]).write_bytes(cabinets.stamp(release1[NAMES[1]], tomorrow))
            try:
                before = contents(out)
                failed = self.release(*second, *pem)
                self.assertEqual(1, failed.returncode, failed.stdout + failed.stderr)
                self.assertIn("is not above %s, a time release 1.0.0's packages were signed or "
                              "stamped at" % tomorrow, failed.stderr)
                self.assertNotIn("building and signing the installer", failed.stdout)
                self.assertEqual(before, contents(out), "the release folder changed")
                self.assertEqual([], list(self.top.glob(".out.*")), "half-made folders left")
            finally:
                (out / NAMES[1]).write_bytes(release1[NAMES[1]])

        # The maker's clock an hour ahead of the time-stamping server's: the
        # packages state that hour, their stamps the server's time, and on
        # Windows the stamps' time is the one held against the floor.
        ahead = self.top / "clock-ahead"
        ahead.mkdir()
        (ahead / "sitecustomize.py").write_text(
            "import time\n_time = time.time\ntime.time = lambda: _time() + 3600\n")
        started = time.time()
        with TimeStampServer(PKI) as tsa:
            made = self.release(*second, "--cert", PKI / "signer-chain.pem", *on_token,
                                "--tsa", tsa.url, extra_env=dict(token.env, PYTHONPATH=ahead))
        self.assertEqual(0, made.returncode, made.stderr)
        image = self.assert_release(out, "1.0.1", NAMES2)
        manifest = (out / "manifest.txt").read_text().splitlines()
        floor = next(line.partition("=")[2] for line in manifest
                     if line.startswith("set ZV_SIGNED_NOT_BEFORE="))
        stated = [line.split()[5] for line in manifest if line.startswith("file ")][:-1]
        self.assertLessEqual(int(started), seconds(floor))
        self.assertLessEqual(seconds(floor), time.time())
        for moment in stated:
            self.assertGreaterEqual(seconds(moment), int(started) + 3600)
        self.assertIn("the floor: %s" % floor, made.stdout)
        for name in NAMES[:2]:
            self.assertNotIn(bytes.fromhex(hashlib.sha256(release1[name]).hexdigest()), image)
        release2 = contents(out)

        paths = {"/1.0.1/" + name: release2[name] for name in NAMES2}
        stale = {"/1.0.1/" + NAMES[0]: release1[NAMES[0]]}
        # The first release's manifest, as if it were still to be uploaded.
        first_out = self.top / "first"
        first_out.mkdir()
        (first_out / "manifest.txt").write_bytes(release1["manifest.txt"])
        upload = ["--before", out]
        signed2 = next(line.split()[5] for line in release2["manifest.txt"].decode().splitlines()
                       if line.startswith("file zvwebsetup.exe "))
        checks = [
            ("before the upload, nothing there", upload, {}, 0, "free"),
            ("before the upload, a package there", upload, stale, 1, "s:0x80096010"),
            ("before the upload, the first installer there", upload,
             {"/1.0.1/" + NAMES[2]: release1[NAMES[2]]}, 0,
             "replace zvwebsetup.exe: http://127.0.0.1:%d/1.0.1/zvwebsetup.exe serves installer "
             "1.0.0 of this publisher" % test_port()),
            ("before the upload, a web page there", upload,
             {"/1.0.1/" + NAMES[2]: b"<html>hi</html>"}, 1,
             "serves 15 bytes that are no Windows program, beginning '<html>hi</html>'"),
            ("before the first's upload, the second installer there", ["--before", first_out],
             {"/1.0.0/" + NAMES[2]: release2[NAMES[2]]}, 1,
             "serves installer 1.0.1 of this publisher signed %s: this release's 1.0.0 is not "
             "above it, and replacing it would be a rollback" % signed2),
            ("published", [out], paths, 0, "ok      %s" % ARM64),
            ("a package differs", [out], dict(paths, **stale), 1,
             "FAILED  setupZVViewer.cab at http://127.0.0.1:%d/1.0.1/setupZVViewer.cab: "
             % test_port()),
            ("an earlier package", [out], dict(paths, **stale), 1,
             "before the installer's floor %s: the installer refuses it (s:0x80096005)" % floor),
        ]
        for label, options, served, code, message in checks:
            with self.subTest(label), PackageServer(served):
                checked = self.release("check", "--ca-file", PKI / "root.pem", *options)
                self.assertEqual(code, checked.returncode, checked.stdout + checked.stderr)
                self.assertIn(message, checked.stdout)
                if code and options == [out]:
                    self.assertIn("SHA-256 %s, the manifest" % hashlib.sha256(
                        release1[NAMES[0]]).hexdigest(), checked.stdout)

        with self.subTest("try a stale package"):
            (out / NAMES[0]).write_bytes(release1[NAMES[0]])
            try:
                tried = self.release("try", "--build", env.BUILD, "--wine", env.WINE_DIR,
                                     "--xvfb", out)
            finally:
                (out / NAMES[0]).write_bytes(release2[NAMES[0]])
            self.assertEqual(1, tried.returncode, tried.stdout + tried.stderr)
            self.assertIn("setupZVViewer.cab is not the package its manifest lists", tried.stderr)

        # Each run starts from an empty install folder.
        installed = {arch: env.prefix(arch) / "drive_c" / path for arch, path in INSTALLED.items()}
        for path in installed.values():
            path.parent.mkdir(parents=True, exist_ok=True)
            (path.parent / "earlier.txt").write_text("an earlier run's")
            self.addCleanup(shutil.rmtree, path.parent, True)
        tried = self.release("try", "--build", env.BUILD, "--wine", env.WINE_DIR, "--xvfb", out)
        self.assertEqual(0, tried.returncode, tried.stdout + tried.stderr)
        self.assertEqual(2, tried.stdout.count("\nexit code: 0\n"), tried.stdout)
        self.assertIn("building installer 1.0.1", tried.stdout)
        self.assertIn("%s, the ARM64 package, cannot be tried here" % ARM64, tried.stdout)
        for arch, bits in (("win32", "32"), ("win64", "64")):
            self.assertEqual(["Zelvio Viewer.txt"], os.listdir(installed[arch].parent))
            self.assertEqual("release 2, %s-bit" % bits, installed[arch].read_text())
        self.assertEqual(contents(out), release2)

    def test_what_cannot_be_packed_or_found_is_refused_at_once(self):
        stage = self.top / "links"
        (stage / "app").mkdir(parents=True)
        shutil.copyfile(DEMO_SETUP, stage / "Setup.exe")
        (stage / "app" / "viewer.ini").write_text("[Viewer]\n")
        (stage / "app" / "link.ini").symlink_to("viewer.ini")
        (stage / "empty").mkdir()
        cab = self.top / "links.cab"
        command, environ = cabinets.make_package_command(stage, cab)
        refused = subprocess.run(command, env=environ, capture_output=True, text=True)
        self.assertEqual(1, refused.returncode, refused.stderr)
        self.assertIn("not a regular file: %s/app/link.ini" % stage, refused.stderr)
        self.assertFalse(cab.exists())

        # Setup.exe under any case, as Windows finds it.
        (stage / "app" / "link.ini").unlink()
        (stage / "Setup.exe").rename(stage / "SETUP.exe")
        made = subprocess.run(command, env=environ, capture_output=True, text=True)
        self.assertEqual(0, made.returncode, made.stderr)
        self.assertIn("warning: %s/empty is an empty folder" % stage, made.stderr)

        # A relative path in an initial cache is not made absolute.
        settings = self.top / "relative.cmake"
        chain, key = (os.path.relpath(p, self.top) for p in cabinets.signing_pair("signer"))
        settings.write_text('set(ZV_SIGN_CERT %s CACHE FILEPATH "")\n'
                            'set(ZV_SIGN_KEY %s CACHE FILEPATH "")\n' % (chain, key))
        configured = subprocess.run(["cmake", "-S", env.REPO, "-B", self.top / "relative",
                                     "-DZV_BUILD_TESTS=OFF", "-DZV_ANY_PUBLISHER=ON",
                                     "-C", settings], cwd=self.top, capture_output=True, text=True)
        self.assertNotEqual(0, configured.returncode)
        self.assertIn("is a relative path", configured.stderr)


if __name__ == "__main__":
    unittest.main()
