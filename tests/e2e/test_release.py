"""A maker's release build, with everything the README's release takes
(https addresses, hash and signer pins, a signing-time floor): it stays
within the size budget, two builds of the same sources, at different times
and in different directories, give the same installer byte for byte, the
maker's names reach its version resource as typed, and the signed copies
(PEM files, PKCS#12, a key on a token) verify and give the unsigned image
back. A PIN or password file make-package would refuse is refused at
configure, and again before signing; so is a PIN in the key's URI."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import pefile

from zvtest import cabinets, env, maker
from zvtest.session import tool, win_path

PKI = cabinets.PKI

# RC and CMake both treat quotes, backslashes and ';' specially.
NAMES = {"ZV_COMPANY_NAME": 'Zelvio; "Nord" GmbH', "ZV_COPYRIGHT": "© Zelvio \\ Nord",
         "ZV_VERSION": "2.3.4.5"}
PIN = "0123456789abcdef" * 4
RELEASE = dict(NAMES, ZV_URL32="https://download.zelvio.example/beta/setupZVViewer.cab",
               ZV_URL64="https://download.zelvio.example/beta/setupZVViewer64.cab",
               ZV_SHA256_32=PIN, ZV_SHA256_64=PIN.upper(), ZV_SIGNER_SHA256=PIN + ";" + PIN,
               ZV_SIGNED_NOT_BEFORE="2026-12-08T21:09:23Z")
# 18 KiB: the headers' block, the code's 33 (a release's own addresses and
# pins make it the largest) and the relocations' two.
SIZE_BUDGET = 18 * 1024


class ReleaseBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = Path(tempfile.mkdtemp(prefix="release-", dir=env.BUILD))
        cls.addClassCleanup(shutil.rmtree, cls.top)
        # Directory names of different lengths, so that an embedded path
        # would also move everything after it; the second build also
        # offers a fixed time to tools that would rather take that.
        # One signs with PEM files, the other with a password-protected
        # PKCS#12 file: a signature must never change the unsigned image. A
        # third signs with the publisher's key on a SoftHSM token.
        password = cls.top / "password"
        password.write_text("correct horse\n")
        password.chmod(0o600)
        pkcs12 = cls.top / "publisher.p12"
        subprocess.run(["openssl", "pkcs12", "-export", "-in", str(PKI / "signer.pem"),
                        "-certfile", str(PKI / "ca.pem"), "-inkey", str(PKI / "signer.key"),
                        "-passout", "file:%s" % password, "-out", str(pkcs12)],
                       check=True, capture_output=True)
        cls.token = token = cabinets.softhsm_token(cls.top / "token")
        cls.builds = {
            "a": dict(RELEASE, ZV_SIGN_CERT=PKI / "signer-chain.pem", ZV_SIGN_KEY=PKI / "signer.key"),
            "second": dict(RELEASE, ZV_SIGN_PKCS12=pkcs12, ZV_SIGN_PASSWORD_FILE=password),
            "token": dict(RELEASE, ZV_SIGN_CERT=PKI / "signer-chain.pem",
                          ZV_SIGN_PKCS11_MODULE=token.module, ZV_SIGN_PKCS11_KEY=token.uri,
                          ZV_SIGN_PASSWORD_FILE=token.pin_file),
        }
        envs = {"second": {"SOURCE_DATE_EPOCH": "946684800"}, "token": token.env}
        for name, cache_vars in cls.builds.items():
            maker.configure_and_build(cls.top / name, cache_vars, target="zvwebsetup_signed",
                                      env=envs.get(name))
        cls.first, cls.second = ((cls.top / name / "zvwebsetup.exe").read_bytes()
                                 for name in ("a", "second"))

    def test_size_within_budget(self):
        print("\nrelease zvwebsetup.exe: %d bytes (budget %d)" % (len(self.first), SIZE_BUDGET))
        self.assertLessEqual(len(self.first), SIZE_BUDGET)

    def test_two_builds_give_the_same_bytes(self):
        for place in (str(self.top), str(env.REPO)):
            for encoding in ("utf-8", "utf-16-le"):
                self.assertNotIn(place.encode(encoding), self.first)
        if self.first != self.second:
            offset = next(i for i, (a, b) in enumerate(zip(self.first, self.second)) if a != b)
            self.fail("builds differ from offset 0x%x (sizes %d, %d)"
                      % (offset, len(self.first), len(self.second)))

    def test_names_and_version_reach_the_version_resource(self):
        pe = pefile.PE(data=self.first)
        strings = maker.version_strings(pe)
        self.assertEqual(NAMES["ZV_COMPANY_NAME"], strings["CompanyName"])
        self.assertEqual(NAMES["ZV_COPYRIGHT"], strings["LegalCopyright"])
        self.assertEqual(("2.3.4.5", "2.3.4.5"), (strings["FileVersion"], strings["ProductVersion"]))
        fixed = pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((0x20003, 0x40005), (fixed.FileVersionMS, fixed.FileVersionLS))

    def test_signed_copies_verify_and_give_the_unsigned_image_back(self):
        for name in self.builds:
            with self.subTest(name):
                signed = self.top / name / "signed" / "zvwebsetup.exe"
                checked = subprocess.run(["osslsigncode", "verify", "-in", str(signed),
                                          "-CAfile", str(PKI / "root.pem")],
                                         capture_output=True, text=True)
                self.assertEqual(0, checked.returncode, checked.stdout + checked.stderr)
                self.assertIn("Subject: /CN=Zelvio Test Publisher", checked.stdout)
                unsigned = self.top / name / "unsigned.exe"
                subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed),
                                "-out", str(unsigned)], check=True, capture_output=True)
                self.assertTrue(unsigned.read_bytes() == self.first, "not the unsigned image")
                # What Windows' own check says (the test root is trusted).
                self.assertEqual("0x00000000", tool("verify", win_path(signed)))
        self.assertEqual("0x800b0100", tool("verify", win_path(self.top / "a" / "zvwebsetup.exe")))

    def test_pin_rules_refuse_at_configure_and_again_before_signing(self):
        def secret(name, text, mode=0o600):
            path = self.top / name
            path.write_bytes(text)
            path.chmod(mode)
            return path
        # The right PIN first: osslsigncode would take both lines.
        two_lines = secret("two-lines", b"314159\n000000\n")
        open_pin = secret("open-pin", b"314159\n", 0o640)
        open_password = secret("open-password", b"correct horse\n", 0o644)
        token = self.builds["token"]
        cases = [
            ("a PIN file of two lines", dict(token, ZV_SIGN_PASSWORD_FILE=two_lines),
             "the PIN file %s holds more than one line" % two_lines),
            ("a PIN file others can read", dict(token, ZV_SIGN_PASSWORD_FILE=open_pin),
             "the PIN file %s (mode 640): chmod 600 %s" % (open_pin, open_pin)),
            ("a password file others can read",
             dict(self.builds["second"], ZV_SIGN_PASSWORD_FILE=open_password),
             "the password file %s (mode 644): chmod 600 %s" % (open_password, open_password)),
            ("a PIN in the key's URI",
             dict(token, ZV_SIGN_PKCS11_KEY=self.token.uri + ";pin-value=314159"),
             "ZV_SIGN_PKCS11_KEY holds the PIN (pin-value=)"),
        ]
        # A build folder for each road: every case sets all it signs with.
        for label, cache_vars, message in cases:
            with self.subTest(label):
                refused = self.top / ("refused-pkcs12" if "ZV_SIGN_PKCS12" in cache_vars
                                      else "refused")
                configured = maker.configure(refused, cache_vars, env=self.token.env)
                self.assertNotEqual(0, configured.returncode, configured.stdout)
                self.assertIn(message, " ".join(configured.stdout.split()))
                self.assertNotIn("314159", configured.stdout)
                self.assertFalse("314159" in (refused / "CMakeCache.txt").read_text(),
                                 "the PIN is in CMakeCache.txt")

        # Made two lines after the configure step: the signing step stops
        # at it, with the last signed copy removed and none made; signing
        # would have logged in with both lines as the PIN, spending one of
        # the token's few tries.
        pin_file = Path(self.token.pin_file)
        self.addCleanup(maker.configure_and_build, self.top / "token", target="zvwebsetup_signed",
                        env=self.token.env)
        self.addCleanup(pin_file.write_bytes, pin_file.read_bytes())
        pin_file.write_bytes(b"314159\n000000\n")
        signed = self.top / "token" / "signed" / "zvwebsetup.exe"
        self.assertTrue(signed.exists())
        built = subprocess.run(["cmake", "--build", str(self.top / "token"), "--target",
                                "zvwebsetup_signed"], env=dict(os.environ, **self.token.env),
                               stdin=subprocess.DEVNULL, capture_output=True, text=True)
        self.assertNotEqual(0, built.returncode, built.stdout)
        self.assertIn("the PIN file %s holds more than one line" % pin_file, built.stdout + built.stderr)
        self.assertFalse(signed.exists())


if __name__ == "__main__":
    unittest.main()
