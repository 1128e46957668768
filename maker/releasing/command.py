"""The maker's release road, three commands; paths may be relative.

    maker/release make -o OUT --version VERSION IDENTITY
            --app32 DIR --url32 URL  --app64 DIR --url64 URL
            [--app-arm64 DIR --url-arm64 URL]
            [--tsa URL] [--also-pin PIN]... [--no-hash-pins] [--no-floor]
            [--company NAME] [--copyright TEXT] [--installer-url URL]
            [--replace-unpublished]
    maker/release try [--build BUILD] [--wine DIR] [--xvfb] OUT
    maker/release check [--before] [--ca-file CA.pem] OUT

IDENTITY, what make-package and the installer's signing take:
    --cert CHAIN.pem --key KEY.pem           an unencrypted PEM key
    --pkcs12 FILE.p12 --password-file FILE   a PKCS#12 file and its password
    --cert CHAIN.pem --module PKCS11_MODULE --key PKCS11_URI --password-file PIN_FILE
                                             a key on a token

`make` first checks every input: each application folder, the key, the PIN
or password, the token's module and its configuration; and, when OUT holds
a release, that this one's version is above it and that no package goes to
an address whose bytes that release's installer pins (--replace-unpublished
when it was never published). Then it packs and signs the packages (all
stating one signing time), and in fresh build folders configures, builds
and signs the installer, pinning the publisher's key (and --also-pin's), each package's SHA-256 (unless
--no-hash-pins) and the packages' signing time as the floor (unless
--no-floor). It checks that the signed installer without its signature is
the reproducible image, that a second fresh build gives the same bytes and
that the image holds the pins and version asked for. Only then is OUT
replaced: by exactly the files to upload, named as their addresses name
them, and manifest.txt, which lists each file's address, size, SHA-256,
signer pin and signing time, and the installer's configuration.

`try` serves OUT's packages on 127.0.0.1, builds the installer with the
manifest's configuration pointed at that server, and runs it under Wine in
a 32-bit and a 64-bit prefix (BUILD's tools; prefixes under BUILD/demo/wine
unless --wine), reporting each state, the exit code, what was installed and
what was left, as `make demo` does. The prefixes are kept from run to run;
each run first removes the install folders, "Zelvio Viewer" under both
Program Files folders. An ARM64 package cannot be tried: Wine runs x86 and
x64 programs only.

`check` downloads each file from its address and compares it with the
manifest: size, SHA-256, signature (osslsigncode verify, against --ca-file
or the system's CA bundle), signer pin and signing time. With --before,
each package's address must be free or already serve the very same file,
and the installer's address must be free, serve this very installer or an
older version of this publisher's (signed by a key this release pins, or
pinning this release's signer).
"""
import argparse
import signal
import sys

from .check import check
from .common import PACKAGES, REPO, Failure
from .make import make
from .trial import try_release


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="maker/release", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n\n", 1)[1])
    commands = parser.add_subparsers(dest="command", required=True)
    made = commands.add_parser("make", help="pack, build, sign and check a release into OUT")
    made.add_argument("-o", "--out", required=True, help="the release folder")
    made.add_argument("--version", required=True)
    for arch, (kind, _, _) in PACKAGES.items():
        made.add_argument("--app" + arch, dest="app" + arch,
                          help="the %s application, Setup.exe at its root" % kind)
        made.add_argument("--url" + arch, dest="url" + arch,
                          help="where its package will be published")
    made.add_argument("--installer-url", help="where the installer will be published (for check)")
    made.add_argument("--cert", help="PEM certificate chain, leaf first")
    made.add_argument("--key", help="its unencrypted PEM key, or a PKCS#11 URI with --module")
    made.add_argument("--module", help="the token's PKCS#11 module")
    made.add_argument("--pkcs12", help="a PKCS#12 file holding key and chain")
    made.add_argument("--password-file", help="the PKCS#12 password, or the token's PIN")
    made.add_argument("--tsa", help="an RFC 3161 time-stamping server for every signature")
    made.add_argument("--also-pin", action="append", default=[], metavar="PIN",
                      help="another key to pin beside the publisher's (its CA's, the next one)")
    made.add_argument("--no-hash-pins", action="store_true",
                      help="accept any package the key signed at or after the floor")
    made.add_argument("--no-floor", action="store_true",
                      help="no floor on the packages' signing time")
    made.add_argument("--replace-unpublished", action="store_true",
                      help="the release in OUT was never published: this one may take its "
                           "version and addresses")
    made.add_argument("--company", help="CompanyName (default Zelvio)")
    made.add_argument("--copyright", help="LegalCopyright (default Copyright (C) Zelvio)")
    tried = commands.add_parser("try", help="run the release's installer under Wine")
    tried.add_argument("--build", default=str(REPO / "build"), help="a test build (make build)")
    tried.add_argument("--wine", help="where the Wine prefixes are (default BUILD/demo/wine)")
    tried.add_argument("--xvfb", action="store_true",
                       help="use a private Xvfb even when $DISPLAY can be reached")
    tried.add_argument("out")
    checked = commands.add_parser("check", help="compare what is published with the manifest")
    checked.add_argument("--before", action="store_true",
                         help="before the upload: every address free or already the same file")
    checked.add_argument("--ca-file", help="the roots to verify signatures against")
    checked.add_argument("out")
    return parser.parse_args(argv)


def main(argv):
    args = parse_args(argv)
    # A stopped run cleans up as a failed one does.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        return {"make": make, "try": try_release, "check": check}[args.command](args)
    except Failure as error:
        print("maker/release %s: %s" % (args.command, error), file=sys.stderr)
        return 1
