"""The maker's road with a real certificate: a key that stays on its token
(SoftHSM here, reached through its PKCS#11 module) signs packages (the
installer signed through it is test_release's), and packages are
time-stamped by an RFC 3161 server (the test PKI's time-stamping authority
on 127.0.0.1). Wine 8 ignores RFC 3161 stamps,
so that Windows accepts a stamped package after its certificate expired is
not shown here; that the stamp is there and verifies, and that the package
installs, is."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from zvtest import cabinets, env
from zvtest.installing import SETUP, InstallingTest, read_record
from zvtest.server import TimeStampServer

PKI = cabinets.PKI


def verify(path):
    return subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile", str(PKI / "root.pem"),
                           "-TSA-CAfile", str(PKI / "root.pem")],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)


class MakerSigningTest(InstallingTest):
    @classmethod
    def setUpClass(cls):
        cls.top = Path(tempfile.mkdtemp(prefix="maker-signing-", dir=env.BUILD))
        cls.addClassCleanup(shutil.rmtree, cls.top)
        cls.token = cabinets.softhsm_token(cls.top / "token")
        cls.stage = cls.top / "app"
        (cls.stage / "payload").mkdir(parents=True)
        shutil.copyfile(SETUP, cls.stage / "Setup.exe")
        (cls.stage / "payload" / "data.bin").write_bytes(os.urandom(50000))

    def make_package(self, out, token=None, tsa=None, signer="signer", extra_env=None):
        command, environ = cabinets.make_package_command(self.stage, out, signer=signer,
                                                         token=token, tsa=tsa)
        environ.pop("ZV_PKCS11_PIN", None)
        environ.update(extra_env or {})
        # Bounded: a prompt for the PIN would wait for ever.
        return subprocess.run(command, env=environ, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=60)

    def test_token_signed_and_time_stamped_packages_install(self):
        with TimeStampServer(PKI) as tsa:
            cases = [("token", dict(token=self.token)), ("time-stamped", dict(tsa=tsa.url))]
            for label, options in cases:
                with self.subTest(label):
                    out = self.top / (label + ".cab")
                    made = self.make_package(out, **options)
                    self.assertEqual(0, made.returncode, made.stderr)
                    checked = verify(out)
                    self.assertEqual(0, checked.returncode, checked.stdout + checked.stderr)
                    self.assertIn("Subject: /CN=Zelvio Test Publisher", checked.stdout)
                    stamped = "Timestamp Server Signature verification: ok" in checked.stdout
                    self.assertEqual("tsa" in options, stamped, checked.stdout)
                    with self.installing(out.read_bytes(), suffix=label) as run:
                        self.assertEqual(0, run.wait_exit())
                        self.assertIn("/install", read_record(run.record)["cmdline"])
                        self.assertEqual([], run.leftovers())
            self.assertEqual(1, tsa.queries)

    def test_a_token_key_that_cannot_sign_fails_at_once_and_writes_nothing(self):
        def pin_file(name, text):
            path = self.top / name
            path.write_bytes(text)
            path.chmod(0o600)
            return self.token._replace(pin_file=str(path))
        # The right PIN first: osslsigncode takes the whole file, so each
        # would fail only when the installer is signed, after the packages.
        two_lines = pin_file("two-lines", b"314159\n000000\n")
        crlf = pin_file("crlf", b"314159\r\n")
        cases = [
            ("wrong PIN in a file", pin_file("wrong-pin", b"000000\n"), {}, "signer",
             "refused the PIN in " + str(self.top / "wrong-pin")),
            ("a PIN file of two lines", two_lines, {}, "signer",
             "%s holds more than one line" % two_lines.pin_file),
            ("a PIN file saved with CR LF", crlf, {}, "signer", "%s holds a CR" % crlf.pin_file),
            ("wrong PIN in the environment", self.token._replace(pin_file=None),
             {"ZV_PKCS11_PIN": "000000"}, "signer", "refused the PIN in ZV_PKCS11_PIN"),
            # The engine would otherwise ask on the terminal.
            ("no PIN", self.token._replace(pin_file=None), {}, "signer", "needs its PIN"),
            # Refused without echoing the URI, which would show the PIN.
            ("a PIN in the key's URI", self.token._replace(uri=self.token.uri + ";pin-value=314159"),
             {}, "signer", "holds the PIN (pin-value=)"),
            # The token's key, but another publisher's chain.
            ("another chain", self.token, {}, "signer2", "does not belong to the first certificate"),
        ]
        for label, token, extra_env, signer, message in cases:
            with self.subTest(label):
                out = self.top / "refused.cab"
                made = self.make_package(out, token=token, signer=signer, extra_env=extra_env)
                self.assertEqual(1, made.returncode, made.stderr)
                self.assertIn(message, made.stderr)
                self.assertNotIn("314159", made.stderr)
                self.assertFalse(out.exists())


if __name__ == "__main__":
    unittest.main()
