"""The download as a user meets it: the real installer under Wine against
the local package server. Which package is fetched, that it arrives whole,
how progress shows and what a screen reader hears of it, how each kind of
server failure ends, closing in the middle of a download, and that no DLL
planted beside the installer is loaded in place of the system's download
libraries."""
import contextlib
import shutil
import time
import unittest

from zvtest import cabinets, env
from zvtest.painted import differing_pixels
from zvtest.server import PATH32, PATH64, PATH_ARM64, PackageServer
from zvtest.session import (TOOLS, AccessibleEvents, InstallerRun, clear_pending_deletions,
                            colour_share, installer_entries, pending_deletions, win_path,
                            windows_path, wine, work_dir)

INSTALLERS = env.BUILD / "tests" / "installers"
PACKAGES = env.BUILD / "e2e-runs" / "test_download-packages"
BLACK, YELLOW, RED, BLUE = (0, 0, 0), (255, 255, 0), (255, 0, 0), (0, 0, 255)
# Native first for the download libraries: Wine would then load any
# urlmon.dll or wininet.dll found on the ordinary search path.
PREFER_NATIVE = {"WINEDLLOVERRIDES": env.NO_DOWNLOADS_NO_DEBUGGER + ";urlmon,wininet=n,b"}
# What a screen reader is told (winuser.h, oleacc.h).
EVENT_SYSTEM_ALERT, EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE = 0x0002, 0x800C, 0x800E
OBJID_CLIENT, ROLE_SYSTEM_PROGRESSBAR = -4, 0x30
TITLE = "Install Zelvio Viewer"


def make_package(name, payload_size):
    """A signed package holding the Setup.exe stand-in and `payload_size`
    random bytes, built once per test PKI."""
    return cabinets.kept_payload_package(PACKAGES / (name + ".cab"),
                                         TOOLS / "setup_double.exe", payload_size)


class DownloadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.big = make_package("big", 4 * 1024 * 1024)
        cls.small = make_package("small", 16 * 1024)
        # Large enough that its check takes a while.
        cls.huge = make_package("huge", 96 * 1024 * 1024)

    def run_installer(self, name="zv_t_no64.exe", arch="win32", extra_env=None, suffix=""):
        run = InstallerRun(INSTALLERS / name, work_dir(self.id() + suffix), arch=arch,
                           extra_env=extra_env)
        self.addCleanup(run.kill)
        return run

    def wait_colour(self, run, colour, timeout=15, share=0.85):
        """Screenshots until the client area is mostly `colour`."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            info = run.wait_window()
            shot, rect = run.client_shot(info)
            if colour_share(shot.region(*rect), colour) > share:
                return shot, rect
            time.sleep(0.1)
        self.fail("window never turned %r" % (colour,))

    def assert_shows(self, run, shot, rect, text, error=True):
        self.assertEqual(0, differing_pixels(run, shot, rect, text, error),
                         "window does not show %r (see %s)" % (text, shot.path))

    def wait_requests(self, server, count=1, timeout=15):
        deadline = time.monotonic() + timeout
        while len(server.requests) < count and time.monotonic() < deadline:
            time.sleep(0.05)

    def test_package_suits_the_machine(self):
        cases = [("zv_t_both.exe", "win32", PATH32), ("zv_t_both.exe", "win64", PATH64),
                 ("zv_t_no64.exe", "win32", PATH32), ("zv_t_no64.exe", "win64", PATH32)]
        for name, arch, expected in cases:
            with self.subTest(installer=name, prefix=arch):
                with PackageServer({PATH32: b"x", PATH64: b"x", PATH_ARM64: b"x"}) as server:
                    for path in (PATH32, PATH64, PATH_ARM64):
                        server.behave(path, "hang")
                    run = self.run_installer(name, arch, suffix="-%s-%s" % (name, arch)).start()
                    run.wait_window()
                    self.wait_requests(server)
                    time.sleep(0.3)  # room for a second, unwanted request
                    self.assertEqual([expected], server.requests)
                    run.close()
                    self.assertEqual(1602, run.wait_exit())

    def test_no_usable_address_asks_nothing_and_shows_bang(self):
        with PackageServer({PATH32: b"x", PATH64: b"x"}) as server:
            run = self.run_installer("zv_t_short.exe").start()
            shot, rect = self.wait_colour(run, RED)
            self.assert_shows(run, shot, rect, "!")
            self.assertEqual([], server.requests)
            run.close()
            self.assertEqual(1603, run.wait_exit())
        self.assertEqual([], run.leftovers())

    def test_large_package_arrives_byte_identical(self):
        # The stand-in Setup.exe lingers, so the downloaded cabinet can be
        # read before the installer deletes it.
        run = self.run_installer(extra_env={"ZV_SETUP_SLEEP": "2000"})
        with PackageServer({PATH32: self.big}) as server:
            started = time.monotonic()
            run.start()
            run.wait_window(lambda info: not info["visible"])  # Setup.exe is running
            downloaded = [p for work in run.work_dirs() for p in work.glob("ZVinsF*")]
            self.assertEqual(1, len(downloaded), run.leftovers())
            self.assertEqual(len(self.big), downloaded[0].stat().st_size)
            self.assertTrue(downloaded[0].read_bytes() == self.big, "downloaded file differs")
            self.assertEqual(0, run.wait_exit())
            self.assertEqual([PATH32], server.requests)
        self.assertEqual([], run.leftovers())
        print("\n  %d bytes fetched and installed in %.1f s"
              % (len(self.big), time.monotonic() - started - 2.0), end=" ")

    def test_screen_readers_hear_each_whole_percentage_once(self):
        # 200 pieces 50 ms apart: about two reports for every whole
        # percentage, each heard well before the next arrives.
        with AccessibleEvents() as listener, PackageServer({PATH32: self.small}) as server:
            server.behave(PATH32, "trickle", chunk=len(self.small) // 200 + 1, delay=0.05)
            run = self.run_installer().start()
            self.assertEqual(0, run.wait_exit(90))
        heard = [e for e in listener.heard if e["event"] == EVENT_OBJECT_VALUECHANGE]
        self.assertGreater(len(heard), 50, listener.heard)
        for event in heard:
            self.assertEqual((OBJID_CLIENT, ROLE_SYSTEM_PROGRESSBAR, TITLE, TITLE),
                             (event["object"], event["role"], event["name"], event["title"]))
            self.assertRegex(event["value"], r"^[0-9]+%$")
        # In the order they were read, the values rise to 100 % (those read
        # in the same millisecond in any order).
        values = sorted((e["read"], int(e["value"][:-1])) for e in heard)
        values = [value for _, value in values]
        self.assertEqual(sorted(values), values)
        self.assertEqual(100, values[-1])
        # An event whose value was read before the next was raised (a few
        # milliseconds before, as the value changes just before) tells what
        # it announced: the next one must announce something else.
        raised = sorted(heard, key=lambda e: e["raised"])
        told = [(a["value"], b["value"]) for a, b in zip(raised, raised[1:])
                if a["read"] + 5 < b["raised"]]
        self.assertGreater(len(told), 20)
        self.assertEqual([], [pair for pair in told if pair[0] == pair[1]])

    def test_screen_readers_hear_a_failure_and_its_code(self):
        with AccessibleEvents() as listener, PackageServer({PATH32: self.small}) as server:
            server.behave(PATH32, "cut", keep=len(self.small) // 2)
            run = self.run_installer().start()
            alert = listener.wait_for(lambda e: e["event"] == EVENT_SYSTEM_ALERT)
            renamed = listener.wait_for(lambda e: e["event"] == EVENT_OBJECT_NAMECHANGE
                                        and e["object"] == OBJID_CLIENT)
            run.close()
            self.assertEqual(1603, run.wait_exit())
        for event in (alert, renamed):
            self.assertEqual((OBJID_CLIENT, ROLE_SYSTEM_PROGRESSBAR, TITLE),
                             (event["object"], event["role"], event["title"]))
            self.assertEqual("Failed: d:0x800c0008", event["value"])  # INET_E_DOWNLOAD_FAILURE
            self.assertEqual(TITLE + ". Failed: d:0x800c0008", event["name"])

    def test_installs_without_the_taskbar_list(self):
        # Wine's taskbar list (explorerframe) takes every call and shows
        # nothing: what can be shown is that its absence changes nothing.
        run = self.run_installer(extra_env={
            "WINEDLLOVERRIDES": env.NO_DOWNLOADS_NO_DEBUGGER + ";explorerframe="})
        with PackageServer({PATH32: self.small}):
            run.start()
            self.assertEqual(0, run.wait_exit())
        self.assertEqual([], run.leftovers())

    def test_server_failures_end_in_the_error_display(self):
        # Wine's urlmon hands back an error status's body, or the first
        # part of a cut body, as a finished file: the failure shows when
        # that file is found not to be a cabinet, or shorter than the server
        # announced or than the cabinet says it is: a download failure,
        # never a question of trust.
        half = len(self.small) // 2
        cases = [("not-found", "status", {"code": 404}, "#"),
                 ("server-error", "status", {"code": 500}, "#"),
                 ("cut", "cut", {"keep": half}, "d:0x800c0008"),  # INET_E_DOWNLOAD_FAILURE
                 ("chunked-cut", "chunked_cut", {"keep": half}, "d:0x800c0008"),
                 ("refused", None, {}, "d:0x800c0008")]
        for label, kind, options, text in cases:
            with self.subTest(label):
                run = self.run_installer(suffix="-" + label)
                server = PackageServer({PATH32: self.small})
                if kind:
                    server.behave(PATH32, kind, **options)
                with server if kind else contextlib.nullcontext():
                    run.start()
                    shot, rect = self.wait_colour(run, RED)
                    self.assert_shows(run, shot, rect, text)
                    self.assertEqual([PATH32] if kind else [], server.requests)
                self.assertEqual([], run.work_files())
                run.close()
                self.assertEqual(1603, run.wait_exit())
                self.assertEqual([], run.leftovers())

    def test_unknown_size_shows_growing_dots(self):
        with PackageServer({PATH32: self.small}) as server:
            size = len(self.small)
            server.behave(PATH32, "trickle", chunk=size // 20 + 1, delay=0.25, length=False)
            run = self.run_installer().start()
            info = run.wait_window()
            self.wait_requests(server)
            yellow = []
            for _ in range(3):
                time.sleep(0.5)
                shot, rect = run.client_shot(info)
                client = shot.region(*rect)
                self.assertEqual(0.0, colour_share(client, BLUE), shot.path)
                self.assertEqual(0.0, colour_share(client, RED), shot.path)
                self.assertGreater(colour_share(client, BLACK), 0.9, shot.path)
                yellow.append(colour_share(client, YELLOW, 60))
            self.assertTrue(0 < yellow[0] < yellow[1] < yellow[2], yellow)
            self.assertEqual(0, run.wait_exit())
        self.assertEqual([], run.leftovers())

    def test_known_size_shows_the_bar_growing(self):
        with PackageServer({PATH32: self.small}) as server:
            size = len(self.small)
            server.behave(PATH32, "trickle", chunk=size // 20 + 1, delay=0.25)
            run = self.run_installer().start()
            info = run.wait_window()
            self.wait_requests(server)
            blue = []
            for _ in range(3):
                time.sleep(0.5)
                shot, rect = run.client_shot(info)
                client = shot.region(*rect)
                self.assertEqual(0.0, colour_share(client, RED), shot.path)
                self.assertGreater(colour_share(client, YELLOW, 60), 0.0, shot.path)
                blue.append(colour_share(client, BLUE))
            self.assertTrue(0 < blue[0] < blue[1] < blue[2] < 1, blue)
            self.assertEqual(0, run.wait_exit())
        self.assertEqual([], run.leftovers())

    def test_redirected_package_leaves_no_copy_in_the_cache(self):
        # urlmon keeps its copy under the address the redirection led to.
        final = "/cdn/v2/setupZVViewer.cab"
        with PackageServer({PATH32: self.small, final: self.small}) as server:
            server.behave(PATH32, "redirect", to=final)
            run = self.run_installer().start()
            self.assertEqual(0, run.wait_exit())
            self.assertEqual([PATH32, final], server.requests)
        self.assertEqual([], run.leftovers())

    def wait_for_whole_package(self, run, size, seconds):
        """Until the work directory holds all `size` bytes of the package:
        the worker then holds it for its last copy and its check."""
        deadline = time.monotonic() + seconds
        while not [p for w in run.work_dirs() for p in w.glob("ZVinsF*")
                   if p.stat().st_size == size]:
            self.assertLess(time.monotonic(), deadline, "the download never completed")
            self.assertFalse(run.exited())
            time.sleep(0.01)

    def test_closing_while_the_package_is_checked_leaves_nothing(self):
        # The worker holds the package while it hashes and checks it; the
        # close waits a moment for it, and anything still held then is
        # scheduled for deletion at the next restart.
        run = self.run_installer()
        with PackageServer({PATH32: self.huge}) as server:
            run.start()
            self.wait_for_whole_package(run, len(self.huge), 120)
            run.close()
            self.assertEqual(1602, run.wait_exit())
        left = self.assert_left_only_for_the_restart(run)
        print("\n  %d left for the next restart" % len(left), end=" ")

    def test_closing_during_a_long_check_leaves_nothing_at_all(self):
        # A build whose check pauses before each 64 KiB: the big package's
        # takes over 6 s, far beyond the ending's wait for the worker. The
        # check stops at its next chunk and lets go of the package, so
        # everything goes at once: nothing waits for the next restart.
        self.addCleanup(clear_pending_deletions, "win32")
        run = self.run_installer("zv_t_slow_check.exe")
        with PackageServer({PATH32: self.big}):
            run.start()
            self.wait_for_whole_package(run, len(self.big), 60)
            time.sleep(1.0)  # well into the check
            closed = time.monotonic()
            run.close()
            self.assertEqual(1602, run.wait_exit())
            elapsed = time.monotonic() - closed
        self.assertEqual([], run.leftovers())
        self.assertEqual([], sorted(p for p in pending_deletions(run.arch) if "zvins" in p))
        self.assertLess(elapsed, 2.0)
        print("\n  ended %.2f s after WM_CLOSE" % elapsed, end=" ")

    def test_closing_a_stalled_download_ends_at_once(self):
        with PackageServer({PATH32: self.small}) as server:
            server.behave(PATH32, "stall", keep=len(self.small) // 3)
            run = self.run_installer().start()
            run.wait_window()
            self.wait_requests(server)
            time.sleep(1.0)
            shot, rect = run.client_shot()
            client = shot.region(*rect)
            # Part of the bar, at most the third that was sent (Wine reports
            # what its reads have filled, so far less may show), no error.
            self.assertGreater(colour_share(client, BLUE), 0.0, shot.path)
            self.assertLess(colour_share(client, BLUE), 1 / 3 + 0.01, shot.path)
            self.assertEqual(0.0, colour_share(client, RED))
            closed = time.monotonic()
            run.close()
            self.assertEqual(1602, run.wait_exit(timeout=10))
            elapsed = time.monotonic() - closed
            self.assertLess(elapsed, 2.0)
            self.assertIsNone(run.info())
            self.assert_nothing_left(run)
            print("\n  ended %.2f s after WM_CLOSE" % elapsed, end=" ")

    def assert_left_only_for_the_restart(self, run):
        """What the run left in the system's temporary directories and the
        Internet cache, each scheduled for deletion at the next restart."""
        self.addCleanup(clear_pending_deletions, run.arch)
        pending = pending_deletions(run.arch)
        left = installer_entries(run.arch) - run.before
        self.assertEqual([], [p.name for p in left if windows_path(p, run.arch) not in pending])
        return left

    def assert_nothing_left(self, run):
        """Nothing of the run in the temporary directories; its copy in
        the user's Internet cache is gone or, where the platform still
        held it (Wine's wininet holds an unfinished one until the process
        ends), scheduled for deletion at the next restart."""
        left = self.assert_left_only_for_the_restart(run)
        self.assertEqual([], [p.name for p in left if not p.name.startswith("setupZVViewer")])
        self.assertEqual([], sorted(p.name for p in run.temp.iterdir()))

    def test_stalled_download_is_given_up(self):
        # A build that gives up after 4 s: a server that sends a third and
        # then nothing, one that never answers, one that sends the rest
        # too late, and a slow one that always sends again within that
        # time, which is never cut.
        cases = [("stalled", "stall", {"keep": len(self.small) // 3}),
                 ("silent", "hang", {}),
                 ("late", "trickle", {"chunk": len(self.small) // 2 + 1, "delay": 8}),
                 ("slow", "trickle", {"chunk": len(self.small) // 8 + 1, "delay": 1})]
        with PackageServer({PATH32: self.small}) as server:
            for count, (label, kind, options) in enumerate(cases, 1):
                with self.subTest(label):
                    server.behave(PATH32, kind, **options)
                    run = self.run_installer("zv_t_stall.exe", suffix="-" + label).start()
                    self.wait_requests(server, count)
                    asked = time.monotonic()
                    if label == "slow":
                        self.assertEqual(0, run.wait_exit(timeout=60))
                        self.assertGreater(time.monotonic() - asked, 6.0)
                        self.assertEqual([], run.leftovers())
                        continue
                    shot, rect = self.wait_colour(run, RED, timeout=30)
                    self.assertGreater(time.monotonic() - asked, 3.5)
                    self.assert_shows(run, shot, rect, "d:0x800c000b")  # INET_E_CONNECTION_TIMEOUT
                    if label == "late":
                        # The rest arrives: a completion nobody waits for
                        # any more changes nothing.
                        time.sleep(8)
                        shot, rect = run.client_shot()
                        self.assert_shows(run, shot, rect, "d:0x800c000b")
                        self.assertFalse(run.exited())
                    self.assertEqual([], run.work_files())
                    run.close()
                    self.assertEqual(1603, run.wait_exit())
                    self.assert_nothing_left(run)

    def test_the_usual_build_gives_a_stall_60_seconds(self):
        with PackageServer({PATH32: self.small}) as server:
            server.behave(PATH32, "hang")
            run = self.run_installer().start()
            self.wait_requests(server)
            asked = time.monotonic()
            time.sleep(50)
            shot, rect = run.client_shot()
            self.assertEqual(0.0, colour_share(shot.region(*rect), RED), shot.path)
            shot, rect = self.wait_colour(run, RED, timeout=25)
            waited = time.monotonic() - asked
            self.assertGreater(waited, 58)
            self.assert_shows(run, shot, rect, "d:0x800c000b")
            run.close()
            self.assertEqual(1603, run.wait_exit())
        self.assert_nothing_left(run)
        print("\n  given up after %.0f s" % waited, end=" ")

    def test_closing_while_the_package_trickles_in_leaves_no_copy(self):
        with PackageServer({PATH32: self.big}) as server:
            server.behave(PATH32, "trickle", chunk=len(self.big) // 50 + 1, delay=0.2)
            run = self.run_installer().start()
            info = run.wait_window()
            self.wait_requests(server)
            time.sleep(3)
            shot, rect = run.client_shot(info)
            self.assertGreater(colour_share(shot.region(*rect), BLUE), 0.0, shot.path)
            run.close()
            self.assertEqual(1602, run.wait_exit())
        self.assert_nothing_left(run)

    def test_dll_planted_beside_the_installer_is_never_loaded(self):
        run = self.run_installer(extra_env=PREFER_NATIVE)
        for name in ("urlmon.dll", "wininet.dll"):
            shutil.copy(TOOLS / "planted.dll", run.work / name)

        # Control: a program in that folder loading by plain name picks the
        # planted copy up under these settings.
        control = run.work / "control"
        control.mkdir()
        shutil.copy(TOOLS / "zvtool.exe", control)
        shutil.copy(TOOLS / "planted.dll", control / "urlmon.dll")
        result = wine([win_path(control / "zvtool.exe"), "load", "urlmon.dll"],
                      extra_env=PREFER_NATIVE)
        self.assertEqual("failed 1114", result.stdout.strip())  # ERROR_DLL_INIT_FAILED
        self.assertTrue((control / "urlmon.dll.loaded").exists())

        with PackageServer({PATH32: self.small}) as server:
            run.start()
            deadline = time.monotonic() + 30
            markers = []
            while not markers and not run.exited() and time.monotonic() < deadline:
                time.sleep(0.1)
                markers = sorted(p.name for p in run.work.glob("*.loaded"))
            self.assertEqual([], markers)
            self.assertEqual(0, run.wait_exit())
            self.assertEqual([PATH32], server.requests)
        self.assertEqual([], sorted(p.name for p in run.work.glob("*.loaded")))
        self.assertEqual([], run.leftovers())


if __name__ == "__main__":
    unittest.main()
