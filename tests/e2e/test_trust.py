"""Only what the maker signed runs: packages signed by the pinned
publisher install; unsigned ones, other publishers' and tampered ones are
refused before anything is unpacked, and are deleted. The signatures come
from the test PKI (scripts/make-test-pki), whose roots the Wine prefixes
trust. Wine checks neither a signed cabinet's content digest nor its root:
the installer's own digest proves the content here, and the signer pin the
signer."""
import hashlib
import os
import shutil
import subprocess
import unittest

from zvtest import cabinets, env, maker
from zvtest.installing import SETUP, InstallingTest, read_record
from zvtest.server import PATH32, PackageServer, test_port

PKI = cabinets.PKI
MAKER_BUILDS = env.BUILD / "e2e-runs" / "maker-builds"


def signer_pin(certificate):
    return subprocess.run([str(cabinets.REPO / "maker" / "signer-pin"), str(certificate)],
                          check=True, capture_output=True, text=True).stdout.strip()


def package(signer="signer", signed_at=None, method=None, **extra):
    files = {"Setup.exe": SETUP, "payload\\data.bin": os.urandom(50000)}
    files.update(extra)
    return cabinets.package_of(files, signer=signer, signed_at=signed_at, method=method)


class TrustTest(InstallingTest):
    def assert_installed(self, run):
        self.assertEqual(0, run.wait_exit())
        self.assertIn("/install", read_record(run.record)["cmdline"])
        self.assertEqual([], run.leftovers())

    def test_refused_packages_never_run_and_are_deleted(self):
        cases = [
            ("unsigned", package(signer=None), "zv_t_both.exe", "s:0x800b0100"),
            # A publisher under a root Windows trusts, but not the pinned one.
            ("other-publisher", package(signer="other"), "zv_t_both.exe", "s:0x800b0111"),
            # The pinned publisher's CA signed it, but the pin is the leaf's.
            ("sibling-publisher", package(signer="signer2"), "zv_t_both.exe", "s:0x800b0111"),
            # Requiring no signature still never runs a file that is not a cabinet.
            ("not-a-cabinet", b"MZ not a cabinet", "zv_t_unsigned.exe", "#"),
        ]
        for label, data, installer, text in cases:
            with self.subTest(label), self.installing(data, installer=installer,
                                                      suffix=label) as run:
                self.assert_refused(run, text)

    def test_content_changed_after_signing_never_runs(self):
        # 26 bytes of one file changed in the maker's package, the signature
        # left as it was: an installer that checks nothing runs it, Wine's
        # WinVerifyTrust passes it, a build pinning the signer alone does not.
        # (MSZIP stores random bytes as they are, for the attacker to find.)
        payload = os.urandom(100000)
        changed = cabinets.changed_after_signing(package(method="mszip",
                                                         **{"payload\\data.bin": payload}),
                                                 payload[-1000:-974], b"changed after signing!!!!!")
        with self.installing(changed, installer="zv_t_unsigned.exe", suffix="unchecked") as run:
            self.assert_installed(run)
        with self.installing(changed, installer="zv_t_both.exe", suffix="signer-pinned") as run:
            self.assert_refused(run, "s:0x80096010")  # TRUST_E_BAD_DIGEST

    def test_accepted_signers(self):
        cases = [
            # The publisher pinned after a pin of another key (rotation).
            ("pinned-publisher", package(), "zv_t_both.exe"),
            # A build pinned to the CA's key takes any publisher it certified.
            ("ca-pin", package(signer="signer2"), "zv_t_ca_pin.exe"),
            # The root's key: in the chain the platform built, not in the signature.
            ("root-pin", package(signer="signer2"), "zv_t_root_pin.exe"),
            # A maker who cannot sign yet: the original unverified road.
            ("unsigned-build", package(signer=None), "zv_t_unsigned.exe"),
        ]
        for label, data, installer in cases:
            with self.subTest(label), self.installing(data, installer=installer,
                                                      suffix=label) as run:
                self.assert_installed(run)

    def test_signing_time_floor(self):
        # zv_t_floor refuses what its publisher signed before 2026-06-01T00:00:00Z.
        late = "2026-09-01T00:00:00Z"
        accepted = [
            ("at-the-floor", package(signed_at="2026-06-01T00:00:00Z")),
            # A time stamp changes nothing when the stated time is late enough.
            ("later-and-stamped",
             cabinets.stamp(package(signed_at="2026-06-01T00:00:01Z"), late)),
        ]
        for label, data in accepted:
            with self.subTest(label), self.installing(data, installer="zv_t_floor.exe",
                                                      suffix=label) as run:
                self.assert_installed(run)
        refused = [
            ("a-second-early", package(signed_at="2026-05-31T23:59:59Z"), "s:0x80096005"),
            # An old release stamped today by anyone: a time stamp shows only
            # that the signature existed by then, never that it is recent.
            ("old-stamped-late", cabinets.stamp(package(signed_at="2025-01-01T00:00:00Z"), late),
             "s:0x80096005"),
            # The pin is judged before the time.
            ("other-publisher", package(signer="other", signed_at=late), "s:0x800b0111"),
        ]
        for label, data, text in refused:
            with self.subTest(label), self.installing(data, installer="zv_t_floor.exe",
                                                      suffix=label) as run:
                self.assert_refused(run, text)

    def test_https_with_a_trusted_certificate_only(self):
        port = int(os.environ.get("ZV_TEST_TLS_PORT", "18432"))
        data = package()
        trusted = (str(PKI / "localhost.pem"), str(PKI / "localhost.key"))
        with self.installing(data, installer="zv_t_https.exe", suffix="trusted",
                             server=PackageServer(port=port, tls=trusted)) as run:
            self.assert_installed(run)
            self.assertEqual(1, len(run.server.requests))
        untrusted = (str(PKI / "selfsigned-localhost.pem"), str(PKI / "selfsigned-localhost.key"))
        with self.installing(data, installer="zv_t_https.exe", suffix="untrusted",
                             server=PackageServer(port=port, tls=untrusted)) as run:
            self.assert_refused(run, "d:0x800c0019")  # INET_E_INVALID_CERTIFICATE
            self.assertEqual([], run.server.requests)

    def test_hash_pinned_build_runs_its_own_package_only(self):
        ours = package()
        # The same publisher's signature, but another package.
        theirs = package(extra=b"a later build")
        pin = hashlib.sha256(ours).hexdigest().upper()
        exe = maker.configure_and_build(MAKER_BUILDS / "hash-pin", {
            "ZV_URL32": "http://127.0.0.1:%d%s" % (test_port(), PATH32), "ZV_URL64": "",
            "ZV_SHA256_32": pin, "ZV_SIGNER_SHA256": signer_pin(PKI / "signer.pem")})
        with self.installing(ours, installer=exe, suffix="ours") as run:
            self.assert_installed(run)
        with self.installing(theirs, installer=exe, suffix="theirs") as run:
            self.assert_refused(run, "s:0x80096010")  # TRUST_E_BAD_DIGEST

    def test_no_signer_pin_without_the_explicit_switch_stops_the_configure_step(self):
        # Any publisher Windows trusts would do, under a root a same-user
        # process may have added among them: only ever on purpose.
        build = MAKER_BUILDS / "any-publisher"
        for switch, code in ((None, 1), ("ON", 0)):
            with self.subTest(switch=switch):
                shutil.rmtree(build, ignore_errors=True)
                result = maker.configure(build, {"ZV_ANY_PUBLISHER": switch} if switch else {})
                self.assertEqual(code, result.returncode, result.stdout)
        self.assertIn("ZV_ANY_PUBLISHER=ON", maker.configure(build / "again").stdout)
        # Without signatures there is nothing to pin.
        shutil.rmtree(build, ignore_errors=True)
        self.assertEqual(0, maker.configure(build, {"ZV_REQUIRE_SIGNATURE": "OFF"}).returncode)

    def test_a_mistyped_pin_or_floor_stops_the_configure_step(self):
        good = signer_pin(PKI / "signer.pem")
        cases = [
            ("ZV_SIGNER_SHA256", good + ";" + good[:63], {}),  # a digit short
            ("ZV_SHA256_64", good[:-1] + "g", {}),             # not hexadecimal
            ("ZV_SHA256_ARM64", good[:-1], {}),                # a digit short
            ("ZV_SIGNED_NOT_BEFORE", "2026-02-29T12:00:00Z", {}),  # no such day
            ("ZV_SIGNED_NOT_BEFORE", "2026-12-08 21:09:23", {}),
            # A floor with nothing signed to judge would protect nothing.
            ("ZV_SIGNED_NOT_BEFORE", "2026-12-08T21:09:23Z", {"ZV_REQUIRE_SIGNATURE": "OFF"}),
        ]
        for variable, value, more in cases:
            with self.subTest(variable=variable, value=value):
                build = MAKER_BUILDS / "bad-configure"
                shutil.rmtree(build, ignore_errors=True)
                result = maker.configure(build, {variable: value, **more})
                self.assertNotEqual(0, result.returncode, result.stdout)
                self.assertIn(value.split(";")[-1], result.stdout)
                self.assertFalse((build / "zvwebsetup.exe").exists())


if __name__ == "__main__":
    unittest.main()
