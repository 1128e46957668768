"""A same-user process that overwrites the downloaded package right after
the download never gets its own Setup.exe run: from its check until Setup
has run, the installer holds the file against writing, renaming and
deletion."""
import subprocess
import time
import unittest

from zvtest import cabinets, env
from zvtest.installing import SETUP, InstallingTest
from zvtest.session import TOOLS, win_path, work_dir


def names_under(directory):
    """Every name under `directory`, tolerating its removal meanwhile."""
    try:
        return {p.name for p in directory.rglob("*")}
    except FileNotFoundError:
        return set()


class TamperTest(InstallingTest):
    def test_overwriting_the_checked_download_never_runs_the_attackers_setup(self):
        good = cabinets.mszip({"Setup.exe": SETUP, "good.txt": b"the maker's"})
        # Signed, though not by the pinned publisher: the check refuses it.
        bad = cabinets.mszip({"Setup.exe": SETUP, "attacker.txt": b"the attacker's"},
                             signer="other")
        side = work_dir(self.id() + "-attacker")  # installing() empties the run's own
        side.mkdir(parents=True, exist_ok=True)
        (side / "attacker.cab").write_bytes(bad)
        temp = work_dir(self.id()) / "temp"  # where installing() points the installer
        # Swapping before the check only gets the package refused (Wine's
        # urlmon lets go of the file before the installer opens it), so the
        # attacker waits for the unpacking directory: the check has passed.
        attacker = subprocess.Popen(
            ["wine", str(TOOLS / "zvtool.exe"), "tamper", win_path(temp), "ZVinsF",
             str(len(good)), win_path(side / "attacker.cab"), "20", "ZVinsD"],
            env=env.wine_environ(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True)
        try:
            self.assertEqual("watching", attacker.stdout.readline().strip())
            with self.installing(good, {"ZV_SETUP_SLEEP": "1500"}, seconds=1) as run:
                # Setup lingers: what it was unpacked with is seen meanwhile.
                unpacked, deadline = set(), time.monotonic() + 20
                while not run.exited() and time.monotonic() < deadline:
                    for directory in run.temp.glob("ZVinsD*"):
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
        for leftover in run.temp.iterdir():
            if leftover.is_file() and leftover.read_bytes() == bad:
                leftover.unlink()
        self.assertEqual([], run.temp_entries())


if __name__ == "__main__":
    unittest.main()
