"""The installer: building it with a release's configuration, and what its
image holds."""
import sys
import tempfile
from pathlib import Path

from .common import INSTALLER, PACKAGES, REPO, SETTINGS, Failure, run


def maker():
    """The harness's maker builds (tests/e2e/zvtest/maker.py). Imported
    late: `try` first points the harness at its build (demo.load_harness)."""
    sys.path.insert(0, str(REPO / "tests" / "e2e"))
    from zvtest import maker
    return maker


def build_installer(folder, settings, target):
    """A fresh configure and build of `target` in `folder`; returns the
    unsigned image's path and the configuration cached."""
    try:
        maker().configure_and_build(folder, settings, target=target)
    except RuntimeError as error:
        raise Failure("the installer's build failed:\n%s" % error)
    cache = maker().read_cache(folder)
    return folder / INSTALLER, {key: cache[key] for key in SETTINGS}


def version_number(text):
    """"1.2" as (1, 2, 0, 0), as the version resource states it."""
    parts = [int(part) for part in text.split(".")]
    return tuple(parts + [0] * (4 - len(parts)))


def version_of(image):
    import pefile
    strings = maker().version_strings(pefile.PE(data=image))
    return strings.get("FileVersion"), strings.get("ProductVersion")


def executable_version(pe):
    """The version a pefile.PE's version resource states, as version_number
    gives it, and as text; None when it has none."""
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return None
    fixed = pe.VS_FIXEDFILEINFO[0]
    number = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
              fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    return number, maker().version_strings(pe).get("FileVersion") or "%d.%d.%d.%d" % number


def check_image(image, settings):
    """The built image must hold what was asked for: pins, addresses, version."""
    pins = [settings[pin] for _, _, pin in PACKAGES.values() if settings[pin]]
    pins += settings["ZV_SIGNER_SHA256"].split(";")
    for pin in pins:
        if bytes.fromhex(pin) not in image:
            raise Failure("the installer does not carry the pin %s" % pin)
    for _, key, _ in PACKAGES.values():
        if settings[key].encode() not in image:
            raise Failure("the installer does not carry the address %s" % settings[key])
    version = settings["ZV_VERSION"]
    if version_of(image) != (version, version):
        raise Failure("the installer's version resource says %s, not %s"
                      % (version_of(image)[0], version))


def unsigned_copy(signed, scratch):
    """`signed` with its signature removed, into a name that is new:
    osslsigncode refuses to overwrite, and a file already there must never
    stand in for its output."""
    target = Path(tempfile.mkdtemp(prefix="unsigned-", dir=scratch)) / INSTALLER
    removed = run(["osslsigncode", "remove-signature", "-in", signed, "-out", target])
    if removed.returncode != 0 or not target.is_file():
        raise Failure("osslsigncode remove-signature failed (exit %d): %s"
                      % (removed.returncode, (removed.stdout + removed.stderr).strip()))
    return target.read_bytes()


def first_difference(a, b):
    return next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
