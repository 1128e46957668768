"""Reading the status text off the screen without OCR: the installer's own
painter draws the expected text into a bitmap of the window's client size
(zvtool render), and the screenshot's client area is compared with it."""
from PIL import Image  # Debian's python3-pil

from .session import TOOLS, win_path, wine


def reference(run, text, width, height, error=True):
    """What the client area looks like showing `text` in the error display
    (`error`) or on the bare black field before any size is known."""
    path = run.work / ("reference-%s-%s-%dx%d.bmp"
                       % (text.encode().hex(), "error" if error else "field", width, height))
    result = wine([str(TOOLS / "zvtool.exe"), "render", text, str(width), str(height),
                   "error" if error else "progress", win_path(path)], arch=run.arch)
    if result.returncode != 0 or not path.exists():
        raise RuntimeError("zvtool render failed: %s" % result.stderr)
    return Image.open(path).convert("RGB")


def differing_pixels(run, shot, rect, text, error=True, tolerance=8):
    """How many client-area pixels differ from the painted `text`."""
    left, top, right, bottom = rect
    expected = list(reference(run, text, right - left, bottom - top, error).getdata())
    actual = shot.region(left, top, right, bottom)
    return sum(1 for a, b in zip(actual, expected)
               if max(abs(x - y) for x, y in zip(a, b)) > tolerance)


def shows(run, shot, rect, text, error=True):
    """True when the client area is exactly the painted `text`."""
    return differing_pixels(run, shot, rect, text, error) == 0

