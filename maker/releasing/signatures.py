"""What a file's Authenticode signature says, as osslsigncode and openssl
read it from the file."""
import calendar
import re
import tempfile
import time
from pathlib import Path

from .common import MAKER, run, utc


def osslsigncode_time(text):
    """"Dec  9 16:26:27 2026 GMT" as YYYY-MM-DDTHH:MM:SSZ."""
    return utc(calendar.timegm(time.strptime(" ".join(text.split()), "%b %d %H:%M:%S %Y GMT")))


def signature(path, ca_file=None):
    """What `path`'s Authenticode signature says: (whether osslsigncode
    verifies it, against `ca_file` or the system's CA bundle; the signer's
    pin; the signing time it states; osslsigncode's report). Pin and time
    are "-" when there are none."""
    verify = run(["osslsigncode", "verify", "-in", path] + (["-CAfile", ca_file] if ca_file else []))
    report = verify.stdout + verify.stderr
    # The primary signature's signer and attributes come first, before any
    # time stamp's.
    serial = re.search(r"Signer #0:\s*\n\s*Subject: .*\n\s*Issuer : .*\n\s*Serial : (\w+)", report)
    stated = re.search(r"Signing time: (.+)", report)
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
    return (verify.returncode == 0, pin, osslsigncode_time(stated.group(1)) if stated else "-",
            report)
