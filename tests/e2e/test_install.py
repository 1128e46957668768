"""Whole runs of the installer against the local package server: the
package is unpacked, its Setup.exe runs hidden from the unpacked
directory, the installer ends with Setup's exit code, and nothing it wrote
stays behind; broken packages end in the error display, again leaving
nothing."""
import os
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from zvtest import cabinets, env
from zvtest.installing import SETUP, InstallingTest, read_record
from zvtest.session import CLASS_NAME, TOOLS, pending_deletions, system_temps, tool, win_path

# The responsive test's package: large enough that unpacking and removing
# it take seconds, and small enough to be quick to make.
LARGE_MIB, SMALL_FILES = 256, 4000


def tree(root):
    """Relative path -> bytes (None for directories) of everything under root."""
    root = Path(root)
    return {p.relative_to(root).as_posix(): (None if p.is_dir() else p.read_bytes())
            for p in root.rglob("*")}


class InstallTest(InstallingTest):
    def test_setup_runs_hidden_in_the_unpacked_directory(self):
        files = {
            "Setup.exe": SETUP.read_bytes(),
            "payload\\data.bin": os.urandom(200000),  # several data blocks
            "payload\\deep\\readme.txt": b"Zelvio Viewer\r\n",
            ".config": b"names beginning with a dot are removed too\n",
        }
        expected = {name.replace("\\", "/"): data for name, data in files.items()}
        expected.update({"payload": None, "payload/deep": None})
        package = cabinets.package_of(files)
        with self.installing(package, {"ZV_SETUP_SLEEP": "2000"}, seconds=1.5) as run:
            # Watch the window until the process ends; while Setup runs (the
            # window hidden) the unpacked directory must hold the package,
            # in the work directory beside the package alone.
            seen, unpacked = [], None
            while not run.exited():
                info = run.info()
                # Until its first ShowWindow the window exists hidden, its
                # work directory not yet or just made: nothing of Setup's.
                if info is not None and not seen and not info["visible"]:
                    info = None
                if info is not None and (not seen or seen[-1] != info["visible"]):
                    seen.append(info["visible"])
                if info is not None and not info["visible"] and unpacked is None:
                    work = run.work_dirs()
                    self.assertEqual(1, len(work), work)
                    inside = sorted(p.name[:6] for p in work[0].iterdir())
                    self.assertEqual(["ZVinsD", "ZVinsF"], inside)
                    unpacked = next(work[0].glob("ZVinsD*"))
                    self.assertEqual(expected, tree(unpacked))
                    # Nothing of the run's in the user's temporary directory.
                    self.assertEqual([], sorted(run.temp.iterdir()))
                time.sleep(0.05)
            self.assertEqual(0, run.wait_exit())
        self.assertEqual([1, 0], seen, "visible, then hidden for good")
        self.assertIsNotNone(unpacked, "Setup never seen running")

        directory = "C:\\windows\\temp\\%s\\%s" % (unpacked.parent.name, unpacked.name)
        seen_by_setup = read_record(run.record)
        self.assertEqual(('"%s\\Setup.exe" /install' % directory).lower(),
                         seen_by_setup["cmdline"].lower())
        self.assertEqual(directory.lower(), seen_by_setup["cwd"].lower())
        self.assertEqual("1", seen_by_setup["installer_window"])
        self.assertEqual("0", seen_by_setup["installer_visible"])
        self.assertEqual([], run.leftovers())

    def test_every_file_arrives_as_the_maker_packed_it(self):
        # What would break an LZX encoder, packed by make-package (LZX, one
        # folder) and by the writer alone in several folders: cabinet.dll
        # gives back every name, byte and time.
        with tempfile.TemporaryDirectory(prefix="zvpacked-", dir=env.BUILD) as scratch:
            stage = Path(scratch) / "app"
            cabinets.write_tree(stage, {"Setup.exe": SETUP, **cabinets.encoder_corpus()})
            expected = {}
            for index, path in enumerate(sorted(p for p in stage.rglob("*") if p.is_file())):
                moment = 1623764758 + index * 3601  # from 2021-06-15 13:45:58, odd seconds too
                os.utime(path, (moment, moment))
                expected[path.relative_to(stage).as_posix()] = (path.read_bytes(), moment // 2 * 2)
            one = Path(scratch) / "one.cab"
            command, environ = cabinets.make_package_command(stage, one)
            subprocess.run(command, env=environ, check=True, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=300)
            several = Path(scratch) / "several.cab"
            subprocess.run([cabinets.ZVCAB, "--max-folder-blocks", "30", "-o", str(several),
                            "-C", str(stage), "."], check=True, capture_output=True)
            packages = {"one folder": one.read_bytes(),
                        "several folders": cabinets.sign(several.read_bytes())}
        for label, package in packages.items():
            with self.subTest(label), self.installing(package, {"ZV_SETUP_SLEEP": "3000"},
                                                      suffix=label) as run:
                unpacked = None
                while not run.exited() and unpacked is None:
                    info = run.info()
                    if info is not None and not info["visible"]:  # Setup runs
                        unpacked = next(run.work_dirs()[0].glob("ZVinsD*"))
                        arrived = {p.relative_to(unpacked).as_posix():
                                   (p.read_bytes(), int(p.stat().st_mtime))
                                   for p in unpacked.rglob("*") if p.is_file()}
                    time.sleep(0.05)
                self.assertEqual(0, run.wait_exit())
                self.assertIsNotNone(unpacked, "Setup never seen running")
                self.assertEqual(sorted(expected), sorted(arrived))
                for name, (data, moment) in expected.items():
                    self.assertTrue(data == arrived[name][0], "%s differs" % name)
                    # Windows turns local times into UTC with today's bias:
                    # an hour off across a change of daylight saving time.
                    self.assertIn(arrived[name][1] - moment, (0, 3600, -3600), name)
                self.assertEqual([], run.leftovers())

    def test_installer_ends_with_setups_exit_code(self):
        # Read-only, hidden and system files must not survive the clean-up.
        package = cabinets.sign(cabinets.uncompressed([
            cabinets.Entry("Setup.exe", SETUP.read_bytes(), attributes=0x21),
            cabinets.Entry("locked\\deep\\file.dat", b"x" * 5000, attributes=0x07),
            cabinets.Entry("locked\\.hidden", b"", attributes=0x02),
        ]))
        for code in (3010, 1):
            with self.subTest(code=code), self.installing(
                    package, {"ZV_SETUP_EXIT": str(code)}) as run:
                self.assertEqual(code, run.wait_exit())
                self.assertTrue(run.record.exists(), "Setup never ran")
                self.assertEqual([], run.leftovers())

    def test_setup_that_broadcasts_is_answered(self):
        # A setup program that changes PATH tells every top-level window,
        # the installer's hidden one included, and waits for all to answer.
        package = cabinets.package_of({"Setup.exe": SETUP})
        with self.installing(package, {"ZV_SETUP_BROADCAST": "1"}) as run:
            started = time.monotonic()
            self.assertEqual(0, run.wait_exit(timeout=30))
            print("\n  ended %.1f s after its start" % (time.monotonic() - started), end=" ")
        self.assertEqual("answered", read_record(run.record)["broadcast"])
        self.assertEqual([], run.leftovers())

    def test_files_under_their_true_names_and_setups_own_names_removed(self):
        # Packed as a maker packs, from a folder: the cabinet tool stores
        # these names in UTF-8 and marks them so. One lies outside the test
        # machine's ANSI code page (1252); Setup then leaves files named
        # outside every ANSI code page.
        files = {
            "Setup.exe": SETUP,
            "Handbuch f\u00fcr Anf\u00e4nger.txt": b"de",
            "\u8aac\u660e\u66f8.txt": b"ja",
            "Donn\u00e9es\\\u043f\u0440\u043e\u0447\u0442\u0438.txt": b"fr ru",
        }
        package = cabinets.package_of(files)
        with self.installing(package, {"ZV_SETUP_LIST": "1", "ZV_SETUP_LITTER": "1"}) as run:
            self.assertEqual(0, run.wait_exit())
        listed = read_record(run.record)["tree"].split("|")
        self.assertEqual(sorted(list(files) + ["Donn\u00e9es\\"]), listed)
        self.assertEqual([], run.leftovers())

    def test_second_stage_from_the_package_is_waited_for(self):
        # A bootstrapper: Setup starts its second stage from the package's
        # directory and ends at once; the second stage looks at its files
        # 4 s later. The installer's code is still Setup's own.
        package = cabinets.package_of({"Setup.exe": SETUP, "payload\\data.txt": b"data"})
        pending = pending_deletions("win32")
        with self.installing(package, {"ZV_SETUP_STAGE2": "1", "ZV_SETUP_EXIT": "3010"}) as run:
            self.assertEqual(3010, run.wait_exit(timeout=60))
        record = read_record(run.record)
        self.assertEqual("1", record["stage2_started"])
        self.assertEqual("Setup.exe|payload\\|payload\\data.txt", record.get("stage2_tree"),
                         "the second stage found its files gone, or never looked")
        self.assertEqual([], run.leftovers())
        self.assertEqual(set(), pending_deletions("win32") - pending)

    def test_program_started_from_elsewhere_is_neither_waited_for_nor_ended(self):
        # Setup starts the installed application (here a copy of itself,
        # outside the package, that records after 10 s) and ends.
        package = cabinets.package_of({"Setup.exe": SETUP})
        with self.installing(package, start=False) as run:
            app = run.work / "app" / "Viewer.exe"
            app.parent.mkdir()
            app.write_bytes(SETUP.read_bytes())
            run.extra_env.update({"ZV_SETUP_LAUNCH": win_path(app),
                                  "ZV_SETUP_STAGE2_SLEEP": "10000"})
            run.start()
            self.assertEqual(0, run.wait_exit(timeout=60))
            record = read_record(run.record)
            self.assertEqual("1", record["launched"])
            self.assertNotIn("stage2_tree", record, "the installer waited for the application")
            self.assertEqual([], run.leftovers())
            deadline = time.monotonic() + 30
            while "stage2_tree" not in read_record(run.record):
                self.assertLess(time.monotonic(), deadline, "the application did not live on")
                time.sleep(0.2)

    def test_package_without_setup_shows_l_and_leaves_nothing(self):
        package = cabinets.package_of({"readme.txt": b"no setup here", "sub\\x.txt": b"x"})
        with self.installing(package) as run:
            self.assert_refused(run, "l:0x00000002")

    def test_forged_completion_message_changes_nothing(self):
        # Another process of the user posts the message that hands over the
        # package, with any parameter, while the error display shows: the
        # package is gone, so nothing is unpacked again.
        package = cabinets.package_of({"readme.txt": b"no setup here"})
        with self.installing(package) as run:
            self.wait_error_display(run, "l:0x00000002")
            work = run.work_dirs()
            self.assertEqual(1, len(work))
            for lparam in ("0", "0x%x" % 0x7F000000, "0x10000"):
                self.assertEqual("posted", tool("post", CLASS_NAME, "0x8042", lparam))
            # Nor does a window creation sent again: no second work
            # directory, no second download.
            self.assertEqual("sent 0", tool("send", CLASS_NAME, "0x0001"))
            time.sleep(1.0)
            self.assertFalse(run.exited())
            self.assertEqual(work, run.work_dirs())
            self.assertEqual(1, len(run.server.requests))
            self.assertEqual([], sorted(p.name for p in work[0].iterdir()))
            self.wait_error_display(run, "l:0x00000002")
            run.close()
            self.assertEqual(1603, run.wait_exit())
        self.assertEqual([], run.leftovers())

    def test_broken_packages_show_hash_and_leave_nothing(self):
        # Signed as they are, broken: the signature vouches for the maker,
        # not for a sound cabinet. (A package cut short in transit loses its
        # signature: the download tests see it refused.)
        good = cabinets.package_of({"Setup.exe": SETUP, "payload\\data.bin": os.urandom(100000)},
                              signer=None)
        corrupted = bytearray(good)
        corrupted[len(good) // 2] ^= 0x55
        packages = {
            "not a cabinet": b"<html><body>Not Found</body></html>\n",
            "corrupted": cabinets.sign(bytes(corrupted)),
            "escaping": cabinets.sign(cabinets.uncompressed([
                cabinets.Entry("Setup.exe", b"MZ"), cabinets.Entry("..\\escape.txt", b"out")])),
        }
        for what, package in packages.items():
            with self.subTest(package=what), self.installing(package, suffix=what) as run:
                self.assert_refused(run, "#")
                self.assertEqual([], list(run.work.rglob("escape*")))

class ResponsiveTest(InstallingTest):
    @classmethod
    def setUpClass(cls):
        # A large file and thousands of small ones: unpacking and removing
        # them takes seconds, in which Windows would call a window that does
        # not look at its queue hung, and a broadcasting program would wait.
        files = {"Setup.exe": SETUP, "large.bin": bytes(LARGE_MIB << 20)}
        files.update({"tree\\%02d\\%04d.txt" % (i % 40, i): b"%d\r\n" % i * 200
                      for i in range(SMALL_FILES)})
        cls.package = cabinets.package_of(files)

    def wait_unpacking(self, run):
        deadline = time.monotonic() + 120
        while not [d for w in run.work_dirs() for d in w.glob("ZVinsD*/tree")]:
            self.assertLess(time.monotonic(), deadline, "unpacking never began")
            time.sleep(0.05)

    def test_window_answers_while_a_large_package_unpacks(self):
        probe = subprocess.Popen(["wine", str(TOOLS / "zvtool.exe"), "probe", CLASS_NAME, "300"],
                                 env=env.wine_environ(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            with self.installing(self.package, {"ZV_SETUP_SLEEP": "500"}) as run:
                self.wait_unpacking(run)
                broadcast = int(tool("broadcast"))
                unpacking = not run.record.exists()
                self.assertEqual(0, run.wait_exit(timeout=300))
            result = probe.communicate(timeout=60)[0].strip()
        finally:
            if probe.poll() is None:
                probe.kill()
                probe.wait()
        print("\n  broadcast answered in %d ms; probe: %s" % (broadcast, result), end=" ")
        self.assertTrue(unpacking, "the broadcast came after the unpacking")
        self.assertLess(broadcast, 1000)
        fields = dict(pair.split("=") for pair in result.split())
        self.assertGreater(int(fields["answers"]), 10, result)
        self.assertLess(int(fields["longest"]), 1000, result)
        self.assertEqual([], run.leftovers())

    def test_close_sent_while_unpacking_changes_nothing_that_matters(self):
        # Another program sends WM_CLOSE while the package unpacks: the
        # window goes, the install does not.
        with self.installing(self.package) as run:
            self.wait_unpacking(run)
            self.assertEqual("sent 0", tool("send", CLASS_NAME, "0x0010"))
            self.assertFalse(run.record.exists(), "the close came after the unpacking")
            self.assertEqual(0, run.wait_exit(timeout=300))
        self.assertTrue(run.record.exists(), "Setup never ran")
        self.assertEqual([], run.leftovers())


class FullDiskTest(InstallingTest):
    """The system's temporary directory on a small file system of its own
    (a tmpfs mounted over the prefix's; needs root)."""

    def setUp(self):
        self.temp = system_temps("win32")[0]
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "zvfull", str(self.temp)],
                                capture_output=True, text=True)
        if result.returncode != 0:
            self.skipTest("cannot mount a small file system here: " + result.stderr.strip())
        # Detached even while a process still has it open: later tests must
        # never find the small disk in place.
        self.addCleanup(subprocess.run, ["umount", "--lazy", str(self.temp)], check=True)

    def test_package_larger_than_the_disk_is_a_download_failure(self):
        package = cabinets.package_of({"Setup.exe": SETUP, "payload.bin": os.urandom(2 << 20)})
        with self.installing(package) as run:
            self.assert_refused(run, "d:0x800c0008")

    def test_files_larger_than_the_disk_cannot_be_extracted(self):
        # A small download that unpacks to more than the disk holds.
        package = cabinets.package_of({"Setup.exe": SETUP, "zeros.bin": bytes(4 << 20)})
        self.assertLess(len(package), 512 << 10)
        with self.installing(package) as run:
            self.assert_refused(run, "#")


if __name__ == "__main__":
    unittest.main()
