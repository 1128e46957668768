"""A same-user process never gets its own Setup.exe run: not by overwriting
the downloaded package right after the download (from its check until
Setup has run, the installer holds the file against writing, renaming and
deletion), nor by moving the unpacked directory away and putting its own
in its place (the installer holds its directories against renaming)."""
import subprocess
import time
import unittest

from zvtest import cabinets, env
from zvtest.installing import SETUP, InstallingTest, read_record
from zvtest.session import TOOLS, win_path, work_dir

SYSTEM_TEMP = "C:\\windows\\temp"


def names_under(directory):
    """Every name under `directory`, tolerating its removal meanwhile."""
    try:
        return {p.name for p in directory.rglob("*")}
    except FileNotFoundError:
        return set()


class TamperTest(InstallingTest):
    def test_overwriting_the_checked_download_never_runs_the_attackers_setup(self):
        good = cabinets.package_of({"Setup.exe": SETUP, "good.txt": b"the maker's"})
        # Signed, though not by the pinned publisher: the check refuses it.
        bad = cabinets.package_of({"Setup.exe": SETUP, "attacker.txt": b"the attacker's"},
                             signer="other")
        side = work_dir(self.id() + "-attacker")  # installing() empties the run's own
        side.mkdir(parents=True, exist_ok=True)
        (side / "attacker.cab").write_bytes(bad)
        # Swapping before the check only gets the package refused (Wine's
        # urlmon lets go of the file before the installer opens it), so the
        # attacker waits for the unpacking directory: the check has passed.
        # (Wine enforces no descriptor: the work directory is open to it.)
        attacker = subprocess.Popen(
            ["wine", str(TOOLS / "zvtool.exe"), "tamper", SYSTEM_TEMP + "\\ZVinsW*", "ZVinsF",
             str(len(good)), win_path(side / "attacker.cab"), "20", "ZVinsD"],
            env=env.wine_environ(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True)
        try:
            self.assertEqual("watching", attacker.stdout.readline().strip())
            with self.installing(good, {"ZV_SETUP_SLEEP": "1500"}, seconds=1) as run:
                # Setup lingers: what it was unpacked with is seen meanwhile.
                unpacked, deadline = set(), time.monotonic() + 20
                while not run.exited() and time.monotonic() < deadline:
                    for directory in [d for w in run.work_dirs() for d in w.glob("ZVinsD*")]:
                        unpacked |= names_under(directory)
                    if attacker.poll() is not None:  # the installer is done with the package
                        deadline = min(deadline, time.monotonic() + 5)
                    time.sleep(0.02)
                counts = attacker.communicate(timeout=30)[0].strip().splitlines()[-1]
                print("\n  attacker: %s" % counts, end=" ")
                self.assertTrue(run.exited(), "the installer never finished (error display?)")
                self.assertEqual(0, run.wait_exit())
        finally:
            if attacker.poll() is None:
                attacker.kill()
                attacker.wait()
        self.assertEqual({"Setup.exe", "good.txt"}, unpacked)
        self.assertTrue(run.record.exists(), "Setup never ran")
        fields = dict(pair.split("=") for pair in counts.split())
        self.assertEqual(("1", "1"), (fields["seen"], fields["armed"]), "attacker never ran")
        self.assertGreater(int(fields["refused"]), 0, counts)
        self.assertEqual("0", fields["replaced"], "the attacker changed the held package")
        # What the attacker wrote once the installer had let go is its own.
        for leftover in [p for w in run.work_dirs() for p in w.iterdir()]:
            if leftover.is_file() and leftover.read_bytes() == bad:
                leftover.unlink()
        for work in run.work_dirs():
            work.rmdir()
        self.assertEqual([], run.leftovers())

    def test_moving_the_unpacked_directory_away_never_runs_the_attackers_setup(self):
        # The attacker waits for Setup.exe in any unpacking directory, in
        # the user's temporary directory or the system's, and tries to put
        # a directory of its own in that one's place.
        package = cabinets.package_of({"Setup.exe": SETUP, "good.txt": b"the maker's"})
        attacker = None
        with self.installing(package, {"ZV_SETUP_SLEEP": "1500"}) as run:
            attacker = subprocess.Popen(
                ["wine", str(TOOLS / "zvtool.exe"), "swapdir", win_path(TOOLS / "zvtool.exe"),
                 "30", win_path(run.temp), SYSTEM_TEMP],
                env=env.wine_environ(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, text=True)
            try:
                self.assertEqual("watching", attacker.stdout.readline().strip())
                self.assertEqual(0, run.wait_exit(timeout=60))
                counts = attacker.communicate(timeout=40)[0].strip().splitlines()[-1]
            finally:
                if attacker.poll() is None:
                    attacker.kill()
                    attacker.wait()
        print("\n  attacker: %s" % counts, end=" ")
        fields = dict(pair.split("=") for pair in counts.split())
        self.assertGreater(int(fields["seen"]), 0, "the attacker never saw Setup.exe")
        self.assertEqual("0", fields["moved"], "the attacker moved the unpacked directory")
        self.assertEqual("32", fields["error"])  # ERROR_SHARING_VIOLATION
        # The genuine Setup ran, in the directory it was unpacked in.
        self.assertIn("\\ZVinsD", read_record(run.record)["cwd"])
        self.assertEqual([], run.leftovers())


if __name__ == "__main__":
    unittest.main()
