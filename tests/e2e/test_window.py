"""The progress window as a user meets it: where it appears, what it looks
like before any progress, at any display scale and in the error display,
and how closing it ends the process."""
import time
import unittest

from zvtest import env
from zvtest.server import PATH32, PATH64, PackageServer
from zvtest.painted import differing_pixels
from zvtest.session import (InstallerRun, colour_share, display_scale, system_temps, tool,
                            work_dir)

INSTALLERS = env.BUILD / "tests" / "installers"
BLACK, YELLOW, RED, BLUE = (0, 0, 0), (255, 255, 0), (255, 0, 0), (0, 0, 255)


def text_height(shot, rect):
    """The rows the yellow text covers in the client area, 0 for none."""
    left, top, right, bottom = rect
    rows = [y for y in range(top, bottom)
            if colour_share(shot.region(left, y, right, y + 1), YELLOW, 60) > 0]
    return rows[-1] - rows[0] + 1 if rows else 0


class WindowTest(unittest.TestCase):
    def run_installer(self, name, suffix="", **kwargs):
        run = InstallerRun(INSTALLERS / name, work_dir(self.id() + suffix), **kwargs)
        self.addCleanup(run.kill)
        return run.start()

    def test_window_before_progress_and_closing_it(self):
        with PackageServer({PATH32: b"x", PATH64: b"x"}) as server:
            server.behave(PATH32, "hang").behave(PATH64, "hang")
            run = self.run_installer("zv_t_both.exe")
            info = run.wait_window()
            self.assertEqual("CZVsexwnd", info["class"])
            self.assertEqual("Install Zelvio Viewer", info["title"])
            self.assertEqual(0x00C80000, info["style"] & 0x00CF0000)  # caption + close box only
            self.assertEqual(0, info["exstyle"] & ~0x100)  # Wine may add WS_EX_WINDOWEDGE
            self.assertEqual(3, info["classstyle"])
            # 1024 x 768 screen: 384 x 96 at (320, 288).
            self.assertEqual((320, 288, 384, 96), (info["x"], info["y"], info["w"], info["h"]))

            shot, (left, top, right, bottom) = run.client_shot(info, "before-progress")
            client = shot.region(left, top, right, bottom)
            self.assertGreater(colour_share(client, BLACK), 0.95)
            # A yellow "." centred, its baseline one third above the bottom.
            third = (bottom - top) // 3
            centre = (left + right) // 2
            dot = shot.region(centre - 8, bottom - third - 10, centre + 9, bottom - third + 1)
            self.assertGreater(colour_share(dot, YELLOW, 60), 0.0)
            self.assertEqual(0.0, colour_share(shot.region(left, top, right, top + 20), YELLOW, 60))

            closed_at = time.monotonic()
            run.close()
            self.assertEqual(1602, run.wait_exit())  # ERROR_INSTALL_USEREXIT
            self.assertLess(time.monotonic() - closed_at, 2.0)

    def test_numerals_keep_their_share_of_the_window_at_any_display_scale(self):
        # Half the package, then nothing more: "L" on a half blue bar. A
        # larger scale takes a taller caption out of the same window.
        body = bytes(16384)
        shares = {}
        for dpi in (96, 144, 192):
            with display_scale(dpi), PackageServer({PATH32: body, PATH64: body}) as server:
                server.behave(PATH32, "stall", keep=8192).behave(PATH64, "stall", keep=8192)
                run = self.run_installer("zv_t_both.exe", suffix="-%d" % dpi)
                info = run.wait_window()
                self.assertEqual((320, 288, 384, 96), (info["x"], info["y"], info["w"], info["h"]))
                deadline = time.monotonic() + 15
                while True:
                    shot, rect = run.client_shot(info, "dpi-%d" % dpi)
                    if colour_share(shot.region(*rect), BLUE) > 0.1 or time.monotonic() > deadline:
                        break
                    time.sleep(0.2)
                self.assertGreater(colour_share(shot.region(*rect), BLUE), 0.1, shot.path)
                shares[dpi] = text_height(shot, rect) / info["ch"]
                run.close()
                self.assertEqual(1602, run.wait_exit())
        print("\n  numerals' share of the client height: %s" % ", ".join(
            "%.3f at %d DPI" % (shares[dpi], dpi) for dpi in sorted(shares)), end=" ")
        for dpi in (144, 192):
            self.assertLess(abs(shares[dpi] / shares[96] - 1), 0.12, shares)

    def test_closing_the_error_display_reports_failure(self):
        run = self.run_installer("zv_t_short.exe")  # no usable address: "!"
        info = run.wait_window()
        time.sleep(0.3)
        shot, rect = run.client_shot(info, "error")
        self.assertGreater(colour_share(shot.region(*rect), RED), 0.85)
        run.close()
        self.assertEqual(1603, run.wait_exit())  # ERROR_INSTALL_FAILURE

    def test_unusable_temporary_directory_shows_t_from_the_start(self):
        # No SystemTemp, and a file where the system's Temp directory
        # belongs: the installer has nowhere of its own to work, and never
        # falls back to the user's temporary directory.
        temp = system_temps("win32")[0]
        away = temp.with_name("temp.away")
        temp.rename(away)
        try:
            temp.write_text("not a directory")
            with PackageServer({PATH32: b"x", PATH64: b"x"}) as server:
                run = self.run_installer("zv_t_both.exe")
                info = run.wait_window()
                time.sleep(0.3)
                shot, rect = run.client_shot(info, "temp-error")
                self.assertEqual(0, differing_pixels(run, shot, rect, "t:0x00000003"))
                run.close()
                self.assertEqual(1603, run.wait_exit())
                self.assertEqual([], server.requests)
        finally:
            temp.unlink()
            away.rename(temp)
        self.assertEqual([], sorted(run.temp.iterdir()))

    def test_planted_names_delay_the_window_a_second_at_most(self):
        # Another process has made a folder for every name the next many
        # seconds of ticks would give: the search gives up, and the window
        # says so at once.
        temp = system_temps("win32")[0]
        with PackageServer({PATH32: b"x", PATH64: b"x"}) as server:
            server.behave(PATH32, "hang").behave(PATH64, "hang")
            # How long the window takes here without them.
            started = time.monotonic()
            run = self.run_installer("zv_t_both.exe", suffix="-unplanted")
            run.wait_window()
            usual = time.monotonic() - started
            run.close()
            self.assertEqual(1602, run.wait_exit())
            # Made from here: through Wine, each would search a folder that
            # grows by thousands.
            tick = int(tool("tick"))
            planted = [temp / ("ZVinsW%d" % t) for t in range(tick, tick + 40000)]
            self.addCleanup(lambda: [p.rmdir() for p in planted if p.is_dir()])
            for path in planted:
                path.mkdir(exist_ok=True)
            started = time.monotonic()
            run = self.run_installer("zv_t_both.exe")
            info = run.wait_window(timeout=10)
            shown = time.monotonic() - started
            shot, rect = run.client_shot(info, "planted")
            self.assertEqual(0, differing_pixels(run, shot, rect, "t:0x000000b7"))  # already exists
            run.close()
            self.assertEqual(1603, run.wait_exit())
            self.assertEqual([PATH32], server.requests)  # the unplanted run's
            # The search itself: a second of ticks, then the error shown.
            found, error, searched = tool("tempname", "C:\\windows\\temp", "ZVinsW").split()
        print("\n  window shown in %.1f s, %.1f s without planted names" % (shown, usual), end=" ")
        self.assertLess(shown, usual + 2.0)
        self.assertEqual(("none", "183"), (found, error))  # ERROR_ALREADY_EXISTS
        self.assertLess(int(searched), 1500)


if __name__ == "__main__":
    unittest.main()
