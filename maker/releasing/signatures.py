"""What a file's Authenticode signature says, as osslsigncode and openssl
read it from the file."""
import calendar
import collections
import re
import tempfile
import time
from pathlib import Path

from .common import MAKER, run, utc

# `signed`: the signing time the signature states ("-": none); `stamped`:
# its RFC 3161 time stamps' times, None when it carries a countersignature
# of another kind.
Signature = collections.namedtuple("Signature", "valid signer signed stamped report")


def osslsigncode_time(text):
    """"Dec  9 16:26:27 2026 GMT" as YYYY-MM-DDTHH:MM:SSZ; a fraction of a
    second ("16:26:27.250") is dropped, which keeps a floor taken from it at
    or before the time itself."""
    text = re.sub(r"(:\d\d)\.\d+ ", r"\1 ", " ".join(text.split()))
    return utc(calendar.timegm(time.strptime(text, "%b %d %H:%M:%S %Y GMT")))


def stamp_times(report):
    """The times of the primary signature's time stamps in an osslsigncode
    verify report: each RFC 3161 stamp's own time (its TSTInfo genTime,
    the time Windows judges a stamped signature as of), not the signing
    time the stamp's signer states beside it. None when a countersignature
    shows no such time."""
    primary = report.split("Signature Index: 1")[0]
    if "Countersignatures:" not in primary:
        return []
    stamps = re.findall(r"Timestamp time: (.+)", primary.split("Countersignatures:", 1)[1])
    return [osslsigncode_time(stamp) for stamp in stamps] or None


def signature(path, ca_file=None):
    """What `path`'s Authenticode signature says, as a Signature: whether
    osslsigncode verifies it, against `ca_file` or the system's CA bundle;
    the signer's pin ("-" when there is none); the times it states and its
    stamps'; osslsigncode's report."""
    verify = run(["osslsigncode", "verify", "-in", path] + (["-CAfile", ca_file] if ca_file else []))
    report = verify.stdout + verify.stderr
    # The primary signature's signer and attributes come first, before any
    # time stamp's.
    serial = re.search(r"Signer #0:\s*\n\s*Subject: .*\n\s*Issuer : .*\n\s*Serial : (\w+)", report)
    # The time the signature itself states, not a stamp's signer's.
    primary = report.split("Signature Index: 1")[0].split("Countersignatures:")[0]
    stated = re.search(r"Signing time: (.+)", primary)
    pin = "-"
    with tempfile.TemporaryDirectory(prefix="zvsig-") as scratch:
        der = Path(scratch) / "signature.der"
        if serial and run(["osslsigncode", "extract-signature", "-in", path, "-out", der]
                          ).returncode == 0:
            certs = run(["openssl", "pkcs7", "-inform", "DER", "-in", der, "-print_certs"]).stdout
            blocks = re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----",
                                certs, re.S)
            for number, block in enumerate(blocks):
                pem = Path(scratch) / ("%d.pem" % number)
                pem.write_text(block + "\n")
                found = run(["openssl", "x509", "-noout", "-serial", "-in", pem]).stdout
                if found.strip().partition("=")[2].lstrip("0") == serial.group(1).lstrip("0"):
                    pin = run([MAKER / "signer-pin", pem], check=True).stdout.strip()
    return Signature(verify.returncode == 0, pin,
                     osslsigncode_time(stated.group(1)) if stated else "-", stamp_times(report),
                     report)
