"""`make`: every input checked, then the packages packed and signed, the
installer built, signed and checked, and OUT replaced by the release."""
import os
import re
import shutil
import sys
import tempfile
import time
import urllib.parse
from pathlib import Path

from .common import INSTALLER, MAKER, PACKAGES, Failure, absolute, run, say, sha256, utc
from .floor import check_above, package_times, previous_times, release_floor
from .installer import (build_installer, check_image, first_difference, unsigned_copy,
                        version_number)
from .machine import check_machine
from .manifest import MANIFEST, Manifest
from .signatures import signature

PIN = re.compile(r"^[0-9a-fA-F]{64}$")
NAME = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]*$")


def identity(args):
    """make-package's identity arguments (after DIR) and options, and the
    installer's signing settings."""
    if args.pkcs12:
        if args.cert or args.key or args.module:
            raise Failure("--pkcs12 holds the certificates and the key: no --cert, --key, --module")
        if not args.password_file:
            raise Failure("--pkcs12 needs --password-file")
        p12 = absolute(args.pkcs12, "--pkcs12")
        password = absolute(args.password_file, "--password-file")
        return [p12], ["-p", password], {"ZV_SIGN_PKCS12": p12, "ZV_SIGN_PASSWORD_FILE": password}
    if not args.cert or not args.key:
        raise Failure("give the signing identity: --cert and --key, or --pkcs12")
    cert = absolute(args.cert, "--cert")
    if args.module:
        if not args.key.startswith("pkcs11:"):
            raise Failure("with --module, --key is the key's PKCS#11 URI (pkcs11:...)")
        if not args.password_file:
            raise Failure("a key on a token needs its PIN: --password-file")
        module = absolute(args.module, "--module")
        pin = absolute(args.password_file, "--password-file")
        return [cert, args.key], ["-m", module, "-p", pin], {
            "ZV_SIGN_CERT": cert, "ZV_SIGN_PKCS11_MODULE": module,
            "ZV_SIGN_PKCS11_KEY": args.key, "ZV_SIGN_PASSWORD_FILE": pin}
    if args.key.startswith("pkcs11:"):
        raise Failure("a PKCS#11 URI as --key needs the token's --module")
    if args.password_file:
        raise Failure("--password-file is for --pkcs12 or a token's PIN: a PEM key must be "
                      "unencrypted")
    key = absolute(args.key, "--key")
    return [cert, key], [], {"ZV_SIGN_CERT": cert, "ZV_SIGN_KEY": key}


def file_name(url, what):
    """The last part of an address's path: the file's name in OUT."""
    if not url or re.search(r"\s", url):
        raise Failure("%s: %r is not an address" % (what, url))
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.netloc:
        raise Failure("%s: %s is not an http or https address" % (what, url))
    name = urllib.parse.unquote(parts.path.rpartition("/")[2])
    if not NAME.match(name) or name == MANIFEST:
        raise Failure("%s: %s does not end in a file name this folder can hold" % (what, url))
    if parts.scheme != "https":
        print("warning: %s is not https: anyone on the network path can serve their own "
              "file there" % url, file=sys.stderr)
    return name


def is_within(path, folder):
    return path == folder or folder in path.parents


def check_out(out, apps):
    """OUT must be new, empty or a previous release, holding nothing but
    what its manifest lists; returns that release's manifest or None."""
    for arch, app, _ in apps:
        real, target = app.resolve(), out.resolve()
        if is_within(real, target) or is_within(target, real):
            raise Failure("the output folder %s and --app%s %s must lie apart" % (out, arch, app))
    if not out.parent.is_dir():
        raise Failure("%s does not exist (the output folder's parent)" % out.parent)
    if not out.exists() or (out.is_dir() and not any(out.iterdir())):
        return None
    if not out.is_dir():
        raise Failure("%s is not a folder" % out)
    previous = Manifest.read(out)
    listed = {f[0] for f in previous.files} | {MANIFEST}
    strays = sorted(p.name for p in out.iterdir() if p.name not in listed)
    if strays:
        raise Failure("%s holds %s, which no release put there: move %s away (a release folder "
                      "holds only what is uploaded)" % (out, ", ".join(strays),
                                                        "it" if len(strays) == 1 else "them"))
    return previous


def make_package(options, app, ident):
    """Runs make-package on `app`; returns what it printed, {"sha256": ...}.
    Its last word is why it failed: that goes first."""
    tool = MAKER / "make-package"
    made = run([tool, *options, *ident[1], app, *ident[0]])
    report = [line.replace("%s: " % tool, "") for line in made.stderr.splitlines()
              if line.strip() and not line.startswith("Engine ")]
    if made.returncode != 0:
        raise Failure("\n".join(report[-1:] + report[:-1]) or
                      "make-package failed for %s (exit %d)" % (app, made.returncode))
    if "-n" in options:
        say(*report)  # its warnings, once
    return dict(line.split(" ", 1) for line in made.stdout.splitlines() if " " in line)


def follow(previous, version, apps):
    """This release must follow the one in OUT: a higher version, and no
    package where that one's installer pins another's bytes."""
    was = previous.settings["ZV_VERSION"]
    switch = ("If %s was never published, --replace-unpublished makes this release in its place."
              % was)
    if version_number(version) <= version_number(was):
        raise Failure("--version %s is not above %s, the release in the output folder: its "
                      "installers may be in the field, and an installer of the same or an older "
                      "version replacing them would be a rollback. Give a version above %s. %s"
                      % (version, was, was, switch))
    # Where the packages its installer pins by their hash are.
    hashes = {value.lower() for key, value in previous.settings.items()
              if key.startswith("ZV_SHA256_") and value}
    pinned = {f[5]: f[2] for f in previous.files if f[2] in hashes}
    for arch, _, url in apps:
        if url in pinned:
            raise Failure("--url%s %s: release %s put a package there, and every %s installer in "
                          "the field runs only those very bytes (SHA-256 %s): a package signed now "
                          "is never the same bytes, and replacing it breaks them (s:0x80096010). "
                          "Give this release addresses of its own. %s"
                          % (arch, url, was, was, pinned[url], switch))


def token_environment(module):
    """SoftHSM reads its configuration from SOFTHSM2_CONF whenever it is
    loaded, and the installer's signing runs in its build folder: a
    relative path is made absolute here, or refused."""
    conf = os.environ.get("SOFTHSM2_CONF")
    if module and conf:
        if not Path(conf).is_file():
            raise Failure("SOFTHSM2_CONF=%s: no such file (from %s), so the token's module %s "
                          "cannot start" % (conf, Path.cwd(), module))
        os.environ["SOFTHSM2_CONF"] = str(Path(conf).absolute())


def replace_folder(out, staged):
    """Puts the staged folder in OUT's place; the previous one goes only
    once the new one is there."""
    old = None
    if out.exists():
        old = Path(tempfile.mkdtemp(prefix=".%s.old-" % out.name, dir=out.parent))
        os.rename(out, old / out.name)
    os.rename(staged, out)
    if old:
        shutil.rmtree(old)


def make(args):
    version = args.version
    if not re.match(r"^\d+(\.\d+){0,3}$", version):
        raise Failure("--version %s is not MAJOR[.MINOR[.PATCH[.TWEAK]]]" % version)
    for text in (args.company, args.copyright):
        if text is not None and "\n" in text:
            raise Failure("names are one line")
    ident = identity(args)
    apps = []
    for arch in PACKAGES:
        app, url = getattr(args, "app" + arch), getattr(args, "url" + arch)
        if bool(app) != bool(url):
            raise Failure("--app%s and --url%s go together" % (arch, arch))
        if app:
            apps.append((arch, absolute(app, "--app" + arch, "folder"), url))
    if not apps:
        raise Failure("give at least one package: --app32 DIR --url32 URL, --app64 DIR --url64 URL")
    names = {arch: file_name(url, "--url" + arch) for arch, _, url in apps}
    installer_name = file_name(args.installer_url, "--installer-url") if args.installer_url \
        else INSTALLER
    if len(set(names.values()) | {installer_name}) != len(names) + 1:
        raise Failure("the addresses' file names must differ: %s"
                      % ", ".join(list(names.values()) + [installer_name]))
    also = [pin.lower() for pin in args.also_pin]
    for pin in also:
        if not PIN.match(pin):
            raise Failure("--also-pin %s is not a SHA-256 of 64 hexadecimal digits" % pin)
    out = Path(args.out).absolute()
    previous = check_out(out, apps)
    if previous and not args.replace_unpublished:
        follow(previous, version, apps)
    token_environment(args.module)
    # Every folder and the key before anything is signed: a token's login
    # included, so that a wrong PIN or module stops the release here.
    for arch, app, _ in apps:
        say("checking --app%s %s and the signing key" % (arch, app))
        make_package(["-n"], app, ident)
        check_machine(arch, PACKAGES[arch][0], app)

    signed_at = utc(time.time())
    scratch = Path(tempfile.mkdtemp(prefix="zvrelease-"))
    staged = Path(tempfile.mkdtemp(prefix=".%s.new-" % out.name, dir=out.parent))
    umask = os.umask(0)
    os.umask(umask)
    os.chmod(staged, 0o777 & ~umask)  # mkdtemp's is private
    try:
        packages, times = {}, []
        for arch, app, url in apps:
            cab = staged / names[arch]
            say("packing and signing %s as %s" % (app, cab.name))
            printed = make_package(["-o", cab, "-t", signed_at] +
                                   (["-T", args.tsa] if args.tsa else []), app, ident)
            found = signature(cab)
            if (found.signer, found.signed) != (printed.get("signer"), printed.get("signed")):
                raise Failure("%s's signature names signer %s at %s, make-package printed %s at "
                              "%s" % (cab.name, found.signer, found.signed, printed.get("signer"),
                                      printed.get("signed")))
            times += package_times(cab.name, found)
            packages[arch] = (cab, found.signer, found.signed)
        publisher = {pin for _, pin, _ in packages.values()}.pop()
        # The floor from what the packages say, read back from them: a time
        # stamp may well be earlier than this machine's clock.
        floor = release_floor(times)
        if not args.no_floor:
            say("the floor: %s, the earliest time the packages were signed or time-stamped at"
                % floor)
            if previous and not args.replace_unpublished:
                check_above(floor, previous_times(previous, out), previous.settings["ZV_VERSION"])

        # Every value is given: a default is then never mistaken for one.
        asked = {
            "ZV_VERSION": version,
            "ZV_URL32": args.url32 or "", "ZV_URL64": args.url64 or "",
            "ZV_URL_ARM64": getattr(args, "url-arm64") or "",
            "ZV_SHA256_32": "", "ZV_SHA256_64": "", "ZV_SHA256_ARM64": "",
            "ZV_SIGNER_SHA256": ";".join(dict.fromkeys([publisher] + also)),
            "ZV_SIGNED_NOT_BEFORE": "" if args.no_floor else floor,
        }
        if not args.no_hash_pins:
            for arch, (cab, _, _) in packages.items():
                asked[PACKAGES[arch][2]] = sha256(cab.read_bytes())
        for key, value in (("ZV_COMPANY_NAME", args.company), ("ZV_COPYRIGHT", args.copyright)):
            if value is not None:
                asked[key] = value
        signing = dict(ident[2])
        if args.tsa:
            signing["ZV_SIGN_TIMESTAMP_URL"] = args.tsa

        say("building and signing the installer %s in a fresh folder" % version)
        first, settings = build_installer(scratch / "build", dict(asked, **signing),
                                          "zvwebsetup_signed")
        if any(settings[key] != value for key, value in asked.items()):
            raise Failure("the build did not take the configuration asked for")
        image = first.read_bytes()
        signed_exe = first.parent / "signed" / INSTALLER
        check_image(image, settings)
        say("checking that the signed installer is the reproducible image and a signature")
        if unsigned_copy(signed_exe, scratch) != image:
            raise Failure("the signed installer without its signature is not the reproducible "
                          "image %s" % first)
        say("building it again in another fresh folder")
        again = build_installer(scratch / "build-again", dict(asked, **signing),
                                "zvwebsetup")[0].read_bytes()
        if again != image:
            raise Failure("a second build gives other bytes, from offset 0x%x"
                          % first_difference(again, image))
        _, installer_pin, installer_signed, _, _ = signature(signed_exe)
        if installer_pin != publisher:
            raise Failure("the installer is signed by %s, the packages by %s"
                          % (installer_pin, publisher))
        shutil.copyfile(signed_exe, staged / installer_name)

        files = []
        for arch, (cab, pin, signed) in packages.items():
            data = cab.read_bytes()
            files.append([cab.name, len(data), sha256(data), pin, signed,
                          settings[PACKAGES[arch][1]]])
        data = (staged / installer_name).read_bytes()
        files.append([installer_name, len(data), sha256(data), installer_pin, installer_signed,
                      args.installer_url or "-"])
        manifest = Manifest(settings, files)
        (staged / MANIFEST).write_text(manifest.text(), encoding="utf-8")
        if sorted(p.name for p in staged.iterdir()) != sorted([f[0] for f in files] + [MANIFEST]):
            raise Failure("the staged release holds other files than its manifest lists")
        replace_folder(out, staged)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
        shutil.rmtree(staged, ignore_errors=True)

    if previous:
        say("replaced release %s in %s" % (previous.settings["ZV_VERSION"], out))
    say("release %s in %s:" % (version, out), "",
        *("  %s  %s" % (f[0], f[5]) for f in files), "",
        "Check that the addresses are free: maker/release check --before %s" % args.out,
        "Upload in this order, the packages before the installer that pins them;",
        "then check what was published: maker/release check %s" % args.out)
    if not args.no_hash_pins:
        say("The installer runs only these very packages: never replace them at these addresses.")
    return 0
