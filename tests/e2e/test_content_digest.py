"""The content digest the installer computes of a signed cabinet (its
ReadPackage, run by zvtool) is the one osslsigncode calculates, for
packages made here: LZX, MSZIP and stored, one folder and several, files
spanning data blocks, the signature's reserve added by the signer or there
before, signed with a key in a file and on a token, with and without a
time stamp. Content changed after signing never passes, nor reserve
sizes changed (they go unsigned), which would have the decoder read the
signed bytes otherwise."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from zvtest import cabinets, env
from zvtest.installing import SETUP
from zvtest.session import tool, win_path

Entry = cabinets.Entry


def calculated_and_signed(path):
    """The digest osslsigncode calculates of the cabinet at `path`, and the
    one its signature states."""
    out = subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile",
                          str(cabinets.PKI / "root.pem")], capture_output=True, text=True).stdout
    found = dict(re.findall(r"^(Calculated|Current) message digest\s*:\s*([0-9A-F]{64})", out, re.M))
    return found.get("Calculated"), found.get("Current")


class ContentDigestTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="digest-", dir=env.BUILD))
        cls.addClassCleanup(shutil.rmtree, cls.scratch)

    def digests(self, cabinets_by_name):
        """zvtool's digest of each cabinet, by name, in one run."""
        paths = []
        for name, data in cabinets_by_name.items():
            paths.append(self.scratch / (name + ".cab"))
            paths[-1].write_bytes(data)
        lines = tool("digest", *map(win_path, paths)).splitlines()
        self.assertEqual(len(paths), len(lines), lines)
        return dict(zip(cabinets_by_name, lines)), dict(zip(cabinets_by_name, paths))

    def test_same_digest_as_osslsigncode(self):
        spanning = os.urandom(3 * cabinets.BLOCK + 123)  # several data blocks, the last partial
        files = {"Setup.exe": SETUP, "data\\spanning.bin": spanning, "small.txt": b"small"}
        entries = [Entry("Setup.exe", SETUP.read_bytes()), Entry("spanning.bin", spanning),
                   Entry("small.txt", b"small"), Entry("more.bin", os.urandom(40000))]
        token = cabinets.softhsm_token(self.scratch / "token")
        pem = cabinets.package_of(files, method="mszip")
        packages = {
            "lzx-pem": cabinets.package_of(files),
            "mszip-pem": pem,
            "mszip-token": cabinets.package_of(files, token=token, method="mszip"),
            "mszip-stamped": cabinets.stamp(pem, "2026-06-01T00:00:00Z"),
            "stored-one-folder": cabinets.sign(cabinets.uncompressed(entries)),
            "stored-three-folders": cabinets.sign(cabinets.uncompressed(entries, folders=3)),
            # The signature's reserve already in the cabinet: signed in place.
            "stored-reserved": cabinets.sign(cabinets.uncompressed(entries, folders=2,
                                                                   reserve=(20, 0, 0))),
        }
        ours, paths = self.digests(packages)
        for name, path in paths.items():
            with self.subTest(name):
                calculated, signed = calculated_and_signed(path)
                self.assertIsNotNone(calculated)
                self.assertEqual(signed, calculated)
                self.assertEqual(calculated, ours[name])
        # The time stamp leaves the covered bytes as they were.
        self.assertEqual(ours["mszip-pem"], ours["mszip-stamped"])

    def test_what_never_passes(self):
        payload = os.urandom(100000)
        signed = cabinets.package_of({"Setup.exe": SETUP, "payload.bin": payload}, method="mszip")
        # Bytes of a file changed after signing, the data block's checksum
        # made right again (MSZIP stores random bytes as they are).
        changed = cabinets.changed_after_signing(signed, payload[-1000:-974], bytes(26))
        # A reserve per data block, whose size goes unsigned: the decoder
        # would read the signed bytes otherwise. (osslsigncode neither signs
        # nor verifies such a cabinet.)
        per_block = signed[:39] + b"\x08" + signed[40:]
        ours, paths = self.digests({"signed": signed, "changed": changed, "per-block": per_block})
        self.assertEqual(calculated_and_signed(paths["signed"])[0], ours["signed"])
        calculated, stated = calculated_and_signed(paths["changed"])
        self.assertEqual(calculated, ours["changed"])
        self.assertNotEqual(stated, ours["changed"])
        self.assertEqual("none", ours["per-block"])
        # Wine's WinVerifyTrust passes all three. zvtool verify deletes what
        # it checked, as the installer's held package goes: copies.
        copies = []
        for name in ours:
            copies.append(self.scratch / (name + "-copy.cab"))
            copies[-1].write_bytes(paths[name].read_bytes())
        self.assertEqual(["0x00000000", "0x80096010", "0x80096010"],
                         tool("verify", *map(win_path, copies)).splitlines())


if __name__ == "__main__":
    unittest.main()
