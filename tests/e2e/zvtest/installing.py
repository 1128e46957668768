"""What the whole-run tests share: one installer run against the local
package server serving one package, and the error display read off the
screen."""
import contextlib
import time
import unittest

from . import env
from .painted import differing_pixels
from .server import PATH32, PATH64, PackageServer
from .session import TOOLS, InstallerRun, colour_share, win_path, work_dir

INSTALLERS = env.BUILD / "tests" / "installers"
SETUP = TOOLS / "setup_double.exe"
RED = (255, 0, 0)


def read_record(path):
    return dict(line.split("=", 1) for line in path.read_text(encoding="utf-8").splitlines())


class InstallingTest(unittest.TestCase):
    @contextlib.contextmanager
    def installing(self, package, extra_env=None, seconds=0, installer="zv_t_both.exe",
                   server=None, suffix="", start=True):
        """Serves `package` (spread over about `seconds`) and runs
        `installer` (or leaves the run to the caller to start); Setup's
        record goes to run.work / "setup-record"."""
        server = server or PackageServer()
        server.files.update({PATH32: package, PATH64: package})
        with server:
            if seconds:
                chunk = len(package) // 10 + 1
                for path in (PATH32, PATH64):
                    server.behave(path, "trickle", chunk=chunk, delay=seconds / 10)
            work = work_dir(self.id() + suffix)
            run = InstallerRun(installer if "/" in str(installer) else INSTALLERS / installer,
                               work, extra_env=extra_env)
            run.server = server
            run.record = run.work / "setup-record"
            run.extra_env["ZV_SETUP_RECORD"] = win_path(run.record)
            try:
                yield run.start() if start else run
            finally:
                run.kill()

    def wait_error_display(self, run, text):
        """Waits for the red error display and checks that it shows `text`."""
        deadline = time.monotonic() + 40
        while True:
            info = run.wait_window()
            shot, rect = run.client_shot(info)
            if colour_share(shot.region(*rect), RED) > 0.85:
                break
            self.assertLess(time.monotonic(), deadline, "no error display")
            time.sleep(0.2)
        self.assertEqual(0, differing_pixels(run, shot, rect, text),
                         "pixels differing from the painted %r" % text)

    def assert_refused(self, run, text):
        """The error display shows `text`, Setup never ran, nothing is
        left of the package meanwhile, and closing the window ends the
        installer with 1603 and removes its work directory."""
        self.wait_error_display(run, text)
        self.assertFalse(run.record.exists(), "Setup ran")
        self.assertEqual([], run.work_files())
        run.close()
        self.assertEqual(1603, run.wait_exit())  # ERROR_INSTALL_FAILURE
        self.assertEqual([], run.leftovers())
