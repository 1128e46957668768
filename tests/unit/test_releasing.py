"""The release road's parts that a release's round trip cannot pin down:
the floor, from times read back from a really signed and stamped package
(a stamp earlier than the maker's clock, a previous release's times), and
the machine a Setup.exe is built for."""
import io
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

from releasing import floor, machine, signatures
from releasing.common import Failure
from zvtest import cabinets, env

TOOLS = env.BUILD / "tests" / "tools"


class FloorTest(unittest.TestCase):
    def signed_package(self, signed_at, stamped_at=None):
        """A package make-package signed stating `signed_at`, stamped at
        `stamped_at` by the test time-stamping authority."""
        top = Path(tempfile.mkdtemp(prefix="floor-", dir=env.BUILD))
        self.addCleanup(shutil.rmtree, top)
        (top / "app").mkdir()
        shutil.copyfile(TOOLS / "demo_setup.exe", top / "app" / "Setup.exe")
        command, environ = cabinets.make_package_command(top / "app", top / "p.cab",
                                                         signed_at=signed_at)
        subprocess.run(command, env=environ, check=True, capture_output=True)
        if stamped_at:
            (top / "p.cab").write_bytes(cabinets.stamp((top / "p.cab").read_bytes(), stamped_at))
        return top / "p.cab"

    def test_the_floor_is_the_earliest_time_read_back_from_the_packages(self):
        # The maker's clock said 12:00:00; the time-stamping server's 11:58:30.
        ahead = signatures.signature(self.signed_package("2026-06-01T12:00:00Z",
                                                         "2026-06-01T11:58:30Z"))
        self.assertEqual(("2026-06-01T12:00:00Z", ["2026-06-01T11:58:30Z"]),
                         (ahead.signed, ahead.stamped))
        unstamped = signatures.signature(self.signed_package("2026-06-01T12:00:05Z"))
        self.assertEqual([], unstamped.stamped)
        times = floor.package_times("a.cab", ahead) + floor.package_times("b.cab", unstamped)
        self.assertEqual("2026-06-01T11:58:30Z", floor.release_floor(times))
        # A stamp later than the stated time leaves the stated time the floor.
        late = signatures.signature(self.signed_package("2026-06-01T12:00:00Z",
                                                        "2026-06-01T12:07:00Z"))
        self.assertEqual("2026-06-01T12:00:00Z",
                         floor.release_floor(floor.package_times("c.cab", late)))

    def test_a_fraction_of_a_second_in_a_stamp_is_dropped(self):
        # RFC 3161 servers may state milliseconds; rounding up would lift the
        # floor over the stamp.
        self.assertEqual("2026-12-10T14:58:31Z",
                         signatures.osslsigncode_time("Dec 10 14:58:31.750 2026 GMT"))
        self.assertEqual(["2026-12-10T14:58:31Z"], signatures.stamp_times(
            "Authenticated attributes:\n\tSigning time: Dec 10 15:00:00 2026 GMT\n"
            "Countersignatures:\n\tTimestamp time: Dec 10 14:58:31.750 2026 GMT\n"
            "\tSigning time: Dec 10 15:42:54 2026 GMT\n"))

    def test_the_floor_must_lie_above_the_previous_release(self):
        floor.check_above("2026-06-01T12:00:00Z", [], "1.0")
        floor.check_above("2026-06-01T12:00:00Z", ["2026-06-01T11:59:59Z", "2026-05-01T00:00:00Z"],
                          "1.0")
        for previous in ("2026-06-01T12:00:00Z", "2026-06-01T12:00:01Z"):
            with self.subTest(previous), self.assertRaises(Failure) as refused:
                floor.check_above("2026-06-01T12:00:00Z", ["2026-05-01T00:00:00Z", previous], "1.0")
            self.assertIn("is not above %s, a time release 1.0's packages" % previous,
                          str(refused.exception))

    def test_a_previous_release_counts_its_packages_stamps_not_its_installer(self):
        top = Path(tempfile.mkdtemp(prefix="floor-", dir=env.BUILD))
        self.addCleanup(shutil.rmtree, top)
        # Stated before, stamped after the new floor: the stamp is what
        # Windows judges it by.
        shutil.copyfile(self.signed_package("2026-06-01T11:00:00Z", "2026-06-01T13:00:00Z"),
                        top / "a.cab")
        previous = type("Manifest", (), {"files": [
            ["a.cab", 0, "-", "-", "2026-06-01T11:00:00Z", "-"],
            ["gone.cab", 0, "-", "-", "2026-06-01T10:00:00Z", "-"],
            ["zvwebsetup.exe", 0, "-", "-", "2026-06-01T14:00:00Z", "-"]]})()
        self.assertEqual(["2026-06-01T11:00:00Z", "2026-06-01T13:00:00Z", "2026-06-01T10:00:00Z"],
                         floor.previous_times(previous, top))


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
