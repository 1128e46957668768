"""The maker's road as scripts/release walks it, with the test PKI: a first
release (PKCS#12, every path relative), a second with new packages and a
new version into the same folder (a key on a token): it carries the new
pins and version, and `try` installs it under Wine in both prefixes.
Stale and failed states never pass: a stray file in the release folder, a
failing or lying `osslsigncode remove-signature`, a stale package under
`try`. `check` compares what the local server publishes with the manifest.
And make-package refuses a symbolic link; the signing refuses a relative
path at configure."""
import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import pefile

from zvtest import cabinets, env, maker
from zvtest.server import PackageServer, test_port

PKI = cabinets.PKI
RELEASE = env.REPO / "scripts" / "release"
DEMO_SETUP = env.BUILD / "tests" / "tools" / "demo_setup.exe"
NAMES = ("setupZVViewer.cab", "setupZVViewer64.cab", "zvwebsetup.exe")
INSTALLED = {"win32": "Program Files/Zelvio Viewer/Zelvio Viewer.txt",
             "win64": "Program Files (x86)/Zelvio Viewer/Zelvio Viewer.txt"}

# osslsigncode, but remove-signature fails as it does on an existing file,
# or gives other bytes than the signed file's image.
SHIM = """#!/bin/sh
[ "$1" = remove-signature ] || exec /usr/bin/osslsigncode "$@"
if [ "$ZV_SHIM" = fail ]; then
    echo "Overwriting an existing file is not supported" >&2
    exit 255
fi
/usr/bin/osslsigncode "$@" || exit
while [ $# -gt 1 ]; do [ "$1" = -out ] && printf x >>"$2"; shift; done
"""


def digest(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def contents(folder):
    return {p.name: p.read_bytes() for p in Path(folder).iterdir()}


class ReleaseRoadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = Path(tempfile.mkdtemp(prefix="release-road-", dir=env.BUILD))
        cls.addClassCleanup(shutil.rmtree, cls.top)
        cls.publisher = subprocess.run([env.REPO / "scripts" / "signer-pin", PKI / "signer.pem"],
                                       check=True, capture_output=True, text=True).stdout.strip()

    def release(self, *args, extra_env=None, cwd=None):
        environ = dict(os.environ, **(extra_env or {}))
        return subprocess.run([str(RELEASE), *map(str, args)], cwd=cwd or self.top, env=environ,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=600)

    def app(self, name, text):
        """An application folder: the demo's Setup.exe, which copies app\\
        into Program Files, and one file saying which release it is."""
        folder = self.top / name
        (folder / "app").mkdir(parents=True)
        shutil.copyfile(DEMO_SETUP, folder / "Setup.exe")
        (folder / "app" / "Zelvio Viewer.txt").write_text(text)
        return folder

    def addresses(self, version):
        base = "http://127.0.0.1:%d/%s/" % (test_port(), version)
        return ["--url32", base + NAMES[0], "--url64", base + NAMES[1],
                "--installer-url", base + NAMES[2]]

    def assert_release(self, out, version):
        """OUT holds exactly the release's files and its manifest, which
        describes them; the installer is signed by the publisher and
        carries the packages' hash pins, the signer pin and the version."""
        self.assertEqual(sorted(NAMES + ("manifest.txt",)), sorted(contents(out)))
        files = {}
        for line in (out / "manifest.txt").read_text().splitlines():
            if line.startswith("file "):
                name, size, sha, signer, signed, address = line.split()[1:]
                files[name] = (int(size), sha, signer, address)
        self.assertEqual(list(NAMES), list(files))
        for name, (size, sha, signer, address) in files.items():
            self.assertEqual((size, sha, self.publisher), ((out / name).stat().st_size,
                                                            digest(out / name), signer), name)
            self.assertIn("/%s/%s" % (version, name), address)
        verified = subprocess.run(["osslsigncode", "verify", "-in", str(out / NAMES[2]),
                                   "-CAfile", str(PKI / "root.pem")], capture_output=True, text=True)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)
        image = (out / NAMES[2]).read_bytes()
        for pin in (digest(out / NAMES[0]), digest(out / NAMES[1]), self.publisher):
            self.assertIn(bytes.fromhex(pin), image)
        strings = maker.version_strings(pefile.PE(data=image))
        self.assertEqual((version, version), (strings["FileVersion"], strings["ProductVersion"]))
        return image

    def test_two_releases_into_one_folder_tried_and_checked(self):
        out = self.top / "out"
        password = self.top / "keys" / "password"
        password.parent.mkdir()
        password.write_text("correct horse\n")
        subprocess.run(["openssl", "pkcs12", "-export", "-in", str(PKI / "signer.pem"),
                        "-certfile", str(PKI / "ca.pem"), "-inkey", str(PKI / "signer.key"),
                        "-passout", "file:%s" % password, "-out", str(password.parent / "p.p12")],
                       check=True, capture_output=True)

        # Run from a folder of its own, everything given relative to it.
        self.app("app1-32", "release 1, 32-bit")
        self.app("app1-64", "release 1, 64-bit")
        (self.top / "work").mkdir()
        made = self.release("make", "-o", "../out", "--version", "1.0.0",
                            "--app32", "../app1-32", "--app64", "../app1-64",
                            *self.addresses("1.0.0"), "--pkcs12", "../keys/p.p12",
                            "--password-file", "../keys/password", cwd=self.top / "work")
        self.assertEqual(0, made.returncode, made.stderr)
        first = self.assert_release(out, "1.0.0")
        release1 = contents(out)

        app32, app64 = self.app("app2-32", "release 2, 32-bit"), self.app("app2-64", "release 2, 64-bit")
        second = ["make", "-o", out, "--version", "1.0.1", "--app32", app32, "--app64", app64,
                  *self.addresses("1.0.1")]
        pem = ["--cert", PKI / "signer-chain.pem", "--key", PKI / "signer.key"]
        shim = self.top / "shim"
        shim.mkdir()
        (shim / "osslsigncode").write_text(SHIM)
        (shim / "osslsigncode").chmod(0o755)
        stray = out / "unsigned.exe"
        stray.write_bytes(first)
        failures = [
            ("a stray file in the folder", {}, "unsigned.exe, which no release put there"),
            ("remove-signature fails", {"ZV_SHIM": "fail"},
             "osslsigncode remove-signature failed (exit 255)"),
            ("remove-signature gives other bytes", {"ZV_SHIM": "alter"},
             "without its signature is not the reproducible image"),
        ]
        for label, extra_env, message in failures:
            with self.subTest(label):
                if extra_env:
                    stray.unlink(missing_ok=True)
                    extra_env["PATH"] = "%s:%s" % (shim, os.environ["PATH"])
                before = contents(out)
                failed = self.release(*second, *pem, extra_env=extra_env)
                self.assertEqual(1, failed.returncode, failed.stdout + failed.stderr)
                self.assertIn(message, failed.stderr)
                self.assertEqual(before, contents(out), "the release folder changed")
                self.assertEqual([], list(self.top.glob(".out.*")), "half-made folders left")

        token = cabinets.softhsm_token(self.top / "token")
        made = self.release(*second, "--cert", PKI / "signer-chain.pem", "--module", token.module,
                            "--key", token.uri, "--password-file", token.pin_file,
                            extra_env=token.env)
        self.assertEqual(0, made.returncode, made.stderr)
        image = self.assert_release(out, "1.0.1")
        for name in NAMES[:2]:
            self.assertNotIn(bytes.fromhex(hashlib.sha256(release1[name]).hexdigest()), image)
        release2 = contents(out)

        paths = {"/1.0.1/" + name: release2[name] for name in NAMES}
        stale = {"/1.0.1/" + NAMES[0]: release1[NAMES[0]]}
        checks = [
            ("before the upload, nothing there", ["--before"], {}, 0, "free"),
            ("before the upload, a package there", ["--before"], stale, 1, "s:0x80096010"),
            ("published", [], paths, 0, "ok      zvwebsetup.exe"),
            ("a package differs", [], dict(paths, **stale), 1,
             "FAILED  setupZVViewer.cab at http://127.0.0.1:%d/1.0.1/setupZVViewer.cab: "
             % test_port()),
        ]
        for label, options, served, code, message in checks:
            with self.subTest(label), PackageServer(served):
                checked = self.release("check", "--ca-file", PKI / "root.pem", *options, out)
                self.assertEqual(code, checked.returncode, checked.stdout + checked.stderr)
                self.assertIn(message, checked.stdout)
                if code and not options:
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

        installed = {arch: env.prefix(arch) / "drive_c" / path for arch, path in INSTALLED.items()}
        for path in installed.values():
            shutil.rmtree(path.parent, ignore_errors=True)
            self.addCleanup(shutil.rmtree, path.parent, True)
        tried = self.release("try", "--build", env.BUILD, "--wine", env.WINE_DIR, "--xvfb", out)
        self.assertEqual(0, tried.returncode, tried.stdout + tried.stderr)
        self.assertEqual(2, tried.stdout.count("\nexit code: 0\n"), tried.stdout)
        self.assertIn("building installer 1.0.1", tried.stdout)
        for arch, bits in (("win32", "32"), ("win64", "64")):
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

        (stage / "app" / "link.ini").unlink()
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
