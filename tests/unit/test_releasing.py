"""The release road's parts that a release's round trip cannot pin down:
the machine a Setup.exe is built for."""
import io
import shutil
import struct
import tempfile
import unittest
from pathlib import Path

from releasing import machine
from releasing.common import Failure
from zvtest import env

TOOLS = env.BUILD / "tests" / "tools"


def pe_header(machine_type, at=0x80):
    """The first bytes of a PE file naming `machine_type`, its header at `at`."""
    data = bytearray(at + 24)
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, at)
    data[at:at + 4] = b"PE\0\0"
    struct.pack_into("<H", data, at + 4, machine_type)
    return bytes(data)


class MachineTest(unittest.TestCase):
    def app(self, setup):
        folder = Path(tempfile.mkdtemp(prefix="machine-", dir=env.BUILD))
        self.addCleanup(shutil.rmtree, folder)
        (folder / "SETUP.EXE").write_bytes(setup)
        return folder

    def test_each_package_takes_its_own_machine_only(self):
        x86 = (TOOLS / "demo_setup.exe").read_bytes()
        x64 = (TOOLS / "demo_setup64.exe").read_bytes()
        self.assertEqual((machine.X86, machine.X64), (machine.machine_of(io.BytesIO(x86)),
                                                      machine.machine_of(io.BytesIO(x64))))
        builds = {"x86": x86, "x64": x64, "ARM64": pe_header(0xAA64, at=0x1000),
                  "ARM64X": pe_header(0xA64E), "ARM64EC": pe_header(0xA641)}
        takes = {"32": {"x86"}, "64": {"x64"}, "-arm64": {"ARM64", "ARM64X"}}
        for arch, kind in (("32", "32-bit"), ("64", "64-bit"), ("-arm64", "ARM64")):
            for build, setup in builds.items():
                with self.subTest(arch=arch, build=build):
                    folder = self.app(setup)
                    if build in takes[arch]:
                        machine.check_machine(arch, kind, folder)
                        continue
                    with self.assertRaises(Failure) as refused:
                        machine.check_machine(arch, kind, folder)
                    self.assertIn("--app%s: %s is built for %s (0x" % (arch, folder / "SETUP.EXE",
                                                                       build),
                                  str(refused.exception))

    def test_what_is_no_windows_program_is_refused(self):
        for label, setup in (("a script", b"#!/bin/sh\necho hi\n" * 8),
                             ("a header beyond the end", pe_header(0x14C)[:0x40]),
                             ("no PE signature", pe_header(0x14C).replace(b"PE\0\0", b"NE\0\0"))):
            with self.subTest(label), self.assertRaises(Failure) as refused:
                machine.check_machine("32", "32-bit", self.app(setup))
            self.assertIn("is not a Windows program", str(refused.exception))


if __name__ == "__main__":
    unittest.main()
