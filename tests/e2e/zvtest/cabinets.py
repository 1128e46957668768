"""Microsoft Cabinet files for the tests and the demo.

`uncompressed` writes a cabinet byte for byte, so names, MS-DOS dates and
times and attribute bits are exactly as given (gcab normalises names and
always stores the archive bit and the file's own time), in as many
folders and with such reserved areas as asked. `package_of` makes a
real package the way a maker does, with maker/make-package: a cabinet
(LZX unless asked otherwise) signed by one of the test PKI's publishers,
with its key in a file or on a SoftHSM token (`softhsm_token`),
time-stamped when asked. `sign`
signs any cabinet the same way; `stamp` adds a time stamp to a signed one;
`changed_after_signing` changes one's data as an attacker would;
`kept_payload_package` keeps a large package between runs.
`encoder_corpus` holds files that would break a cabinet writer's encoder,
`write_tree` puts files into a folder.
"""
import calendar
import os
import random
import shutil
import struct
import subprocess
import tempfile
import time
from pathlib import Path
from typing import NamedTuple

from . import env

REPO = Path(__file__).resolve().parents[3]
PKI = env.BUILD / "tests" / "pki"

BLOCK = 32768  # largest uncompressed data block the format allows


def dos_date(year, month, day):
    return (year - 1980) << 9 | month << 5 | day


def dos_time(hour, minute, second):
    return hour << 11 | minute << 5 | second // 2


class Entry(NamedTuple):
    name: str  # backslash-separated; str in the ANSI code page, or raw bytes
    data: bytes
    date: int = dos_date(2021, 6, 15)
    time: int = dos_time(13, 45, 58)
    attributes: int = 0x20


def checksum(data, seed=0):
    """The format's XOR of little-endian words; a 1-3 byte tail is taken
    most significant byte first."""
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        seed ^= word
    tail = 0
    for byte in data[whole:]:
        tail = tail << 8 | byte
    return seed ^ tail


def uncompressed(entries, checksums=True, folders=1, reserve=None):
    """Stored (typeCompress 0) folders holding `entries` in order, as many
    as `folders` (the entries split evenly). With `reserve`, the sizes of
    the header's, each folder's and each data block's reserved area (zero
    bytes, but for a header reserve of 20, which places a signature), and
    no checksums with a reserve per block."""
    per_folder = -(-len(entries) // folders)
    groups = [entries[i:i + per_folder] for i in range(0, len(entries), per_folder)]
    header_reserve, folder_reserve, block_reserve = reserve or (0, 0, 0)
    header = 36 + (4 + header_reserve if reserve else 0)
    files = b""
    payloads = []
    for index, group in enumerate(groups):
        payload = b""
        for e in group:
            name = e.name if isinstance(e.name, bytes) else e.name.encode("cp1252")
            files += struct.pack("<IIHHHH", len(e.data), len(payload), index, e.date, e.time,
                                 e.attributes) + name + b"\0"
            payload += e.data
        payloads.append(payload)
    start = header + len(groups) * (8 + folder_reserve) + len(files)
    folder_table = b""
    blocks = b""
    for payload in payloads:
        count = 0
        folder_start = start + len(blocks)
        for offset in range(0, len(payload), BLOCK):
            data = payload[offset:offset + BLOCK]
            sizes = struct.pack("<HH", len(data), len(data))
            csum = checksum(sizes, checksum(data)) if checksums and not block_reserve else 0
            blocks += struct.pack("<I", csum) + sizes + bytes(block_reserve) + data
            count += 1
        folder_table += struct.pack("<IHH", folder_start, count, 0) + bytes(folder_reserve)
    length = start + len(blocks)
    reserved = placeholder = b""
    if header_reserve == 20:
        # The signature's place, as signers write it: after the cabinet,
        # here 8 zero bytes, which a signer replaces.
        placeholder = bytes(8)
        reserved = b"\0\0\x10\0" + struct.pack("<II", length, len(placeholder)) + bytes(8)
    elif reserve:
        reserved = bytes(header_reserve)
    if reserve:
        reserved = struct.pack("<HBB", header_reserve, folder_reserve, block_reserve) + reserved
    return (b"MSCF" + struct.pack("<IIIII", 0, length, 0, start - len(files), 0)
            + bytes([3, 1])
            + struct.pack("<HHHHH", len(groups), len(entries), 4 if reserve else 0, 0x5A56, 0)
            + reserved + folder_table + files + blocks + placeholder)


def changed_after_signing(cabinet, old, new):
    """`cabinet` with the bytes `old` of its data replaced by as many
    `new` ones, and the checksum of their data block made right again: a
    change anyone can make to a signed package, leaving its signature as
    it was."""
    at = cabinet.find(old)
    assert at > 0 and len(new) == len(old), "not in the cabinet"
    data = bytearray(cabinet)
    data[at:at + len(old)] = new
    folders, = struct.unpack_from("<H", data, 26)
    header, folder_reserve, block_reserve = 36, 0, 0
    if data[30] & 4:
        header_reserve, folder_reserve, block_reserve = struct.unpack_from("<HBB", data, 36)
        header += 4 + header_reserve
    for index in range(folders):
        block, count, _ = struct.unpack_from("<IHH", data, header + index * (8 + folder_reserve))
        for _ in range(count):
            start = block + 8 + block_reserve
            end = start + struct.unpack_from("<H", data, block + 4)[0]
            if start <= at and at + len(old) <= end:
                struct.pack_into("<I", data, block,
                                 checksum(data[block + 4:block + 8], checksum(data[start:end])))
                return bytes(data)
            block = end
    raise AssertionError("not within one data block")


def signing_pair(signer):
    """Certificate chain and key of a test publisher: "signer", "signer2"
    (both under the test CA) or "other" (under a root of its own)."""
    return str(PKI / (signer + "-chain.pem")), str(PKI / (signer + ".key"))


SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"


class Token(NamedTuple):
    module: str
    uri: str       # the publisher's private key
    pin_file: str  # None: make-package takes the PIN from ZV_PKCS11_PIN
    env: dict      # what every process opening the token needs


def softhsm_token(directory, signer="signer"):
    """A new SoftHSM token in `directory` (which must not exist) holding
    `signer`'s key, imported from the test PKI (a real token's key is
    generated on it and never leaves)."""
    directory = Path(directory)
    (directory / "tokens").mkdir(parents=True)
    conf = directory / "softhsm2.conf"
    conf.write_text("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n"
                    % (directory / "tokens"))
    pin = "314159"
    token = Token(SOFTHSM_MODULE, "pkcs11:token=zvtest;object=publisher;type=private",
                  str(directory / "pin"), {"SOFTHSM2_CONF": str(conf)})
    Path(token.pin_file).write_text(pin + "\n")
    os.chmod(token.pin_file, 0o600)  # make-package refuses a PIN others can read
    environ = dict(os.environ, **token.env)
    for command in (["--init-token", "--free", "--label", "zvtest", "--so-pin", "27182818"],
                    ["--import", signing_pair(signer)[1], "--token", "zvtest",
                     "--label", "publisher", "--id", "01"]):
        subprocess.run(["softhsm2-util", *command, "--pin", pin], env=environ, check=True,
                       stdin=subprocess.DEVNULL, capture_output=True)
    return token


ZVCAB = os.environ.get("ZVCAB", str(env.BUILD / "maker" / "zvcab"))


def make_package_command(stage, out, signer="signer", signed_at=None, token=None, tsa=None,
                         method=None):
    """maker/make-package's command line and environment for packing
    `stage` into `out` (with `method`, else make-package's own default):
    signed by `signer`, through `token` when given (its key must be the
    signer's), time-stamped at `tsa` (a URL) when given."""
    chain, key = signing_pair(signer)
    options = ["-o", str(out)] + (["-c", method] if method else [])
    options += ["-t", signed_at] if signed_at else []
    options += ["-T", tsa] if tsa else []
    environ = dict(os.environ)
    if token:
        options += ["-m", token.module] + (["-p", token.pin_file] if token.pin_file else [])
        key = token.uri
        environ.update(token.env)
    return [str(REPO / "maker" / "make-package"), *options, str(stage), chain, key], environ


def unix_time(utc):
    """Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ"."""
    return str(calendar.timegm(time.strptime(utc, "%Y-%m-%dT%H:%M:%SZ")))


def stamp(cabinet, utc):
    """A signed `cabinet` with an RFC 3161 time stamp of `utc` added by the
    test time-stamping authority: what anyone can add to a signed file."""
    with tempfile.TemporaryDirectory(prefix="zvstamp-") as scratch:
        unsigned, stamped = Path(scratch) / "in.cab", Path(scratch) / "out.cab"
        unsigned.write_bytes(cabinet)
        subprocess.run(["osslsigncode", "add", "-TSA-certs", str(PKI / "tsa-chain.pem"),
                        "-TSA-key", str(PKI / "tsa.key"), "-TSA-time", unix_time(utc),
                        "-in", str(unsigned), "-out", str(stamped)], check=True,
                       stdin=subprocess.DEVNULL, capture_output=True)
        return stamped.read_bytes()


def sign(cabinet, signer="signer"):
    """`cabinet` Authenticode-signed (SHA-256) by `signer`."""
    with tempfile.TemporaryDirectory(prefix="zvsign-") as scratch:
        unsigned, signed = Path(scratch) / "in.cab", Path(scratch) / "out.cab"
        unsigned.write_bytes(cabinet)
        chain, key = signing_pair(signer)
        subprocess.run(["osslsigncode", "sign", "-h", "sha256", "-certs", chain, "-key", key,
                        "-in", str(unsigned), "-out", str(signed)], check=True,
                       stdin=subprocess.DEVNULL, capture_output=True)
        return signed.read_bytes()


def kept_payload_package(cab, setup, payload_size):
    """The bytes of `cab`, a signed package of `setup` as Setup.exe and
    `payload_size` random bytes; made once, and again when the test PKI
    whose keys sign it is newer."""
    if not cab.exists() or cab.stat().st_mtime < (PKI / ".complete").stat().st_mtime:
        cab.parent.mkdir(parents=True, exist_ok=True)
        package = package_of({"Setup.exe": setup, "payload.bin": os.urandom(payload_size)})
        cab.with_suffix(".part").write_bytes(package)
        os.replace(cab.with_suffix(".part"), cab)
    return cab.read_bytes()


# Real x86 code, for the E8 call translation: Wine's own 32-bit DLLs.
WINE_X86 = (Path("/usr/lib/i386-linux-gnu/wine/i386-windows"), Path("/usr/lib/wine/i386-windows"))


def encoder_corpus():
    """Names -> bytes (the same on every call) of what would break a
    cabinet writer's encoder: an empty and a 1-byte file, incompressible
    data, long runs whose longest matches meet the 32 KiB frame ends, real
    x86 code, text spanning frames and blocks, many small files, names
    outside ASCII."""
    rng = random.Random(31)
    words = [bytes(rng.choice(b"etaoinshrdlu") for _ in range(rng.randint(2, 9)))
             for _ in range(400)]
    text = b" ".join(rng.choice(words) for _ in range(60000))
    x86 = next(d / "oleacc.dll" for d in WINE_X86 if (d / "oleacc.dll").exists())
    files = {
        "empty.txt": b"",
        "one.bin": b"\x01",
        "random.bin": rng.randbytes(150000),
        "runs\\zeros.bin": bytes(3 * BLOCK + 17),
        "runs\\pattern.bin": b"ab" * 40000 + b"\xff" * 70001 + rng.randbytes(300) * 200,
        "x86\\oleacc.dll": x86.read_bytes(),
        "text\\spanning.txt": text,
        "Handbuch f\u00fcr Anf\u00e4nger.txt": "f\u00fcr".encode(),
        "Donn\u00e9es\\\u8aac\u660e\u66f8.txt": "\u8aac\u660e".encode(),
    }
    files.update({"small\\%03d.txt" % i: text[i * 37:i * 37 + i % 50] for i in range(300)})
    return files


def write_tree(stage, files):
    """Writes `files` (names with backslashes or slashes -> bytes, or the
    path of a file to copy) under the folder `stage`."""
    for name, content in files.items():
        target = Path(stage) / name.replace("\\", "/")
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, (bytes, bytearray)):
            target.write_bytes(content)
        else:
            shutil.copyfile(content, target)


def package_of(files, signer="signer", signed_at=None, token=None, tsa=None, method=None):
    """A package of `files`, which maps names ("sub\\a.txt" or "sub/a.txt")
    to bytes or to the path of a file to copy, compressed with `method`
    (make-package's default when None); signed by `signer` with
    maker/make-package (stating `signed_at`, "YYYY-MM-DDTHH:MM:SSZ", or
    now; `token` and `tsa` as for make_package_command), or left unsigned
    (the writer alone) when None."""
    with tempfile.TemporaryDirectory(prefix="zvcab-") as scratch:
        stage = Path(scratch) / "in"
        stage.mkdir()
        write_tree(stage, files)
        out = Path(scratch) / "out.cab"
        if signer is not None and "Setup.exe" in files:
            command, environ = make_package_command(stage, out, signer, signed_at, token, tsa,
                                                    method)
            subprocess.run(command, env=environ, check=True, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=120)
            return out.read_bytes()
        # make-package refuses a package without Setup.exe: such broken
        # packages are put together and signed here.
        subprocess.run([ZVCAB, "-c", method or "lzx", "-o", str(out), "-C", str(stage), "."],
                       check=True, stdin=subprocess.DEVNULL, capture_output=True)
        return out.read_bytes() if signer is None else sign(out.read_bytes(), signer)
