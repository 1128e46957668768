"""What the release road's commands share: where the tools are, the
packages and settings a release has, and running and reporting."""
import hashlib
import subprocess
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
MAKER = REPO / "maker"
SCRIPTS = REPO / "scripts"
INSTALLER = "zvwebsetup.exe"
# The installer's configuration, as the manifest records it for `try`.
SETTINGS = ("ZV_VERSION", "ZV_URL32", "ZV_URL64", "ZV_URL_ARM64",
            "ZV_SHA256_32", "ZV_SHA256_64", "ZV_SHA256_ARM64",
            "ZV_SIGNER_SHA256", "ZV_SIGNED_NOT_BEFORE", "ZV_COMPANY_NAME", "ZV_COPYRIGHT")
# The packages by their options' suffix (--app32, --url-arm64): what they
# hold, and the settings of their address and hash pin.
PACKAGES = {"32": ("32-bit", "ZV_URL32", "ZV_SHA256_32"),
            "64": ("64-bit", "ZV_URL64", "ZV_SHA256_64"),
            "-arm64": ("ARM64", "ZV_URL_ARM64", "ZV_SHA256_ARM64")}


class Failure(Exception):
    pass


def run(command, **options):
    if "stdout" not in options and "stderr" not in options:
        options["capture_output"] = True
    return subprocess.run([str(part) for part in command], stdin=subprocess.DEVNULL, text=True,
                          **options)


def say(*lines):
    for line in lines:
        print(line, flush=True)


def utc(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def absolute(value, what, kind="file"):
    """`value` as an absolute path, which must exist now."""
    path = Path(value).absolute()
    if not (path.is_dir() if kind == "folder" else path.is_file()):
        raise Failure("%s: no %s at %s" % (what, kind, value))
    return path
