"""A release folder's manifest.txt: what was built, and what to upload."""
from .common import SETTINGS, Failure

MANIFEST = "manifest.txt"


class Manifest:
    """OUT/manifest.txt: the installer's configuration (`settings`) and, in
    upload order, each file: name, size, SHA-256, signer pin, signing time
    (or "-") and address (or "-")."""

    def __init__(self, settings, files):
        self.settings, self.files = settings, files

    def text(self):
        lines = ["# Zelvio Viewer installer %s, made by maker/release make." %
                 self.settings["ZV_VERSION"],
                 "# Upload the files in the order listed, packages first, then the installer",
                 "# that pins them; all of this folder but this manifest.",
                 "# The installer was built with:"]
        lines += ["set %s=%s" % (key, self.settings[key]) for key in SETTINGS]
        lines.append("# file, size, SHA-256, signer pin, signing time, address:")
        lines += ["file %s %d %s %s %s %s" % tuple(f) for f in self.files]
        return "\n".join(lines) + "\n"

    @classmethod
    def read(cls, folder):
        path = folder / MANIFEST
        if not path.is_file():
            raise Failure("%s has no %s: not a release folder made by maker/release make"
                          % (folder, MANIFEST))
        settings, files = {}, []
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            kind, _, rest = line.partition(" ")
            if kind == "set" and "=" in rest:
                key, _, value = rest.partition("=")
                settings[key] = value
            elif kind == "file" and len(rest.split()) == 6:
                name, size, digest, signer, signed, address = rest.split()
                files.append([name, int(size), digest, signer, signed, address])
            elif kind != "#" and line:
                raise Failure("%s:%d: cannot read %r" % (path, number, line))
        # Releases made before there was an ARM64 package.
        for key in ("ZV_URL_ARM64", "ZV_SHA256_ARM64"):
            settings.setdefault(key, "")
        missing = [key for key in SETTINGS if key not in settings]
        if missing or not files:
            raise Failure("%s is incomplete (%s)" % (path, ", ".join(missing) or "no files"))
        return cls(settings, files)
