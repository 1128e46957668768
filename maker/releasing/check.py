"""`check`: what is published at each address against the manifest, or,
before the upload, whether each address may take its file."""
import tempfile
import urllib.error
import urllib.request
from pathlib import Path

from .common import INSTALLER, Failure, absolute, say, sha256
from .floor import seconds
from .installer import executable_version, version_number
from .manifest import Manifest
from .signatures import signature


def download(url):
    """The bytes at `url`, or None when the server has nothing there."""
    request = urllib.request.Request(url, headers={"User-Agent": "zvwebsetup-release-check"})
    try:
        with urllib.request.urlopen(request, timeout=120) as reply:
            return reply.read()
    except urllib.error.HTTPError as error:
        if error.code in (404, 410):
            return None
        raise Failure("%s: HTTP %d %s" % (url, error.code, error.reason))
    except (urllib.error.URLError, OSError) as error:
        raise Failure("%s: %s" % (url, getattr(error, "reason", error)))


def published_installer(data, manifest, ca_file):
    """Whether this release may replace `data`, served at its installer's
    address, and what that is: only an older installer of this publisher."""
    import pefile
    try:
        version = executable_version(pefile.PE(data=data))
    except pefile.PEFormatError:
        return False, "%d bytes that are no Windows program, beginning %r" % (
            len(data), data[:32].decode("ascii", "backslashreplace"))
    program = "a Windows program (%s)" % ("version " + version[1] if version else
                                          "no version resource")
    with tempfile.TemporaryDirectory(prefix="zvcheck-") as scratch:
        copy = Path(scratch) / INSTALLER
        copy.write_bytes(data)
        valid, signer, signed, _, report = signature(copy, ca_file)
    if signer == "-":
        return False, program + ", unsigned"
    if not valid:
        last = [line for line in report.splitlines() if line.strip()][-1]
        return False, "%s whose signature does not verify against %s (%s)" % (
            program, ca_file or "the system's CA bundle", last)
    # Its signer is one this release pins, or (after a new key) it pins this
    # release's signer.
    ours = manifest.files[-1][3]
    if signer not in manifest.settings["ZV_SIGNER_SHA256"].lower().split(";") + [ours] \
            and bytes.fromhex(ours) not in data:
        return False, "%s signed by another key (pin %s) than this release's publisher (pin %s)" \
            % (program, signer, ours)
    if not version:
        return False, "%s signed by this publisher, but none of its installers" % program
    release = manifest.settings["ZV_VERSION"]
    what = "installer %s of this publisher%s" % (version[1], " signed " + signed
                                                  if signed != "-" else "")
    if version[0] >= version_number(release):
        return False, "%s: this release's %s is not above it, and replacing it would be a " \
            "rollback. Make a release with a higher version" % (what, release)
    return True, "%s, older than this release's %s" % (what, release)


def below_floor(signed, stamped, floor):
    """Why the installer, whose floor is `floor`, would refuse a package
    stating `signed` and stamped at `stamped`; empty when it would not."""
    if signed == "-":
        return ["no signing time stated: the installer refuses it (s:0x80096005)"]
    if stamped is None:
        return ["a countersignature whose time cannot be read: not an RFC 3161 time stamp"]
    return ["%s at %s, before the installer's floor %s: the installer refuses it (s:0x80096005)"
            % (what, moment, floor)
            for what, moment in [("signed", signed)] + [("stamped", m) for m in stamped]
            if seconds(moment) < seconds(floor)]


def check(args):
    out = Path(args.out).absolute()
    manifest = Manifest.read(out)
    ca_file = str(absolute(args.ca_file, "--ca-file")) if args.ca_file else None
    problems = 0
    for name, size, digest, signer, signed, address in manifest.files:
        if address == "-":
            say("%s: no address given, not checked" % name)
            continue
        try:
            data = download(address)
        except Failure as error:
            say("FAILED  %s: %s" % (name, error))
            problems += 1
            continue
        if args.before:
            if data is None:
                say("free    %s: nothing at %s yet" % (name, address))
            elif sha256(data) == digest:
                say("same    %s: %s already serves this very file" % (name, address))
            elif name == manifest.files[-1][0]:  # the installer, listed last
                older, what = published_installer(data, manifest, ca_file)
                if older:
                    say("replace %s: %s serves %s" % (name, address, what))
                else:
                    say("FAILED  %s: %s serves %s" % (name, address, what))
                    problems += 1
            else:
                say("FAILED  %s: %s already serves another package (SHA-256 %s): replacing it "
                    "breaks every installer already downloaded that pins that package's hash "
                    "(s:0x80096010). Give this release new addresses (only releases that never "
                    "pinned hashes may share them)" % (name, address, sha256(data)))
                problems += 1
            continue
        if data is None:
            say("FAILED  %s: nothing at %s" % (name, address))
            problems += 1
            continue
        with tempfile.TemporaryDirectory(prefix="zvcheck-") as scratch:
            copy = Path(scratch) / name
            copy.write_bytes(data)
            valid, found_signer, found_signed, stamped, report = signature(copy, ca_file)
        differences = [
            "%s %s, the manifest %s" % (what, found, wanted)
            for what, found, wanted in (("size", len(data), size), ("SHA-256", sha256(data), digest),
                                        ("signer pin", found_signer, signer),
                                        ("signing time", found_signed, signed))
            if found != wanted]
        if not valid:
            last = [line for line in report.splitlines() if line.strip()][-3:]
            differences.append("the signature does not verify (%s)" % "; ".join(last))
        floor = manifest.settings["ZV_SIGNED_NOT_BEFORE"]
        package = name != manifest.files[-1][0]  # the installer is listed last
        if floor and package:
            differences += below_floor(found_signed, stamped, floor)
        if differences:
            say("FAILED  %s at %s: %s" % (name, address, "; ".join(differences)))
            problems += 1
        else:
            say("ok      %s at %s: %d bytes, SHA-256 %s, signed by %s at %s%s%s"
                % (name, address, size, digest, signer, signed,
                   "".join(", stamped at %s" % moment for moment in stamped or []),
                   ", not before the floor %s" % floor if floor and package else ""))
    if problems:
        say("%d of the release's %d files failed the check" % (problems, len(manifest.files)))
        return 1
    return 0
