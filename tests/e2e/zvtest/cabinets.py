"""Microsoft Cabinet files for the tests and the demo.

`uncompressed` writes a cabinet byte for byte, so names, MS-DOS dates and
times and attribute bits are exactly as given (gcab normalises names and
always stores the archive bit and the file's own time). `mszip` makes a
real MSZIP cabinet with gcab, the way a package would be built.
"""
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path
from typing import NamedTuple

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


def uncompressed(entries, checksums=True):
    """One stored (typeCompress 0) folder holding `entries` in order."""
    files = b""
    payload = b""
    for e in entries:
        name = e.name if isinstance(e.name, bytes) else e.name.encode("cp1252")
        files += struct.pack("<IIHHHH", len(e.data), len(payload), 0, e.date, e.time,
                             e.attributes) + name + b"\0"
        payload += e.data
    blocks = b""
    count = 0
    for start in range(0, len(payload), BLOCK):
        data = payload[start:start + BLOCK]
        sizes = struct.pack("<HH", len(data), len(data))
        csum = checksum(sizes, checksum(data)) if checksums else 0
        blocks += struct.pack("<I", csum) + sizes + data
        count += 1
    header, folder = 36, 8
    data_start = header + folder + len(files)
    return (b"MSCF" + struct.pack("<IIIII", 0, data_start + len(blocks), 0, header + folder, 0)
            + bytes([3, 1]) + struct.pack("<HHHHH", 1, len(entries), 0, 0x5A56, 0)
            + struct.pack("<IHH", data_start, count, 0) + files + blocks)


def mszip(files):
    """An MSZIP cabinet made by gcab. `files` maps names ("sub\\a.txt" or
    "sub/a.txt") to bytes or to the path of a file to copy."""
    with tempfile.TemporaryDirectory(prefix="zvcab-") as scratch:
        stage = Path(scratch) / "in"
        names = []
        for name, content in files.items():
            relative = name.replace("\\", "/")
            target = stage / relative
            target.parent.mkdir(parents=True, exist_ok=True)
            if isinstance(content, (bytes, bytearray)):
                target.write_bytes(content)
            else:
                shutil.copyfile(content, target)
            names.append(relative)
        out = Path(scratch) / "out.cab"
        subprocess.run(["gcab", "-c", "-z", str(out), *names], cwd=stage, check=True,
                       stdin=subprocess.DEVNULL, capture_output=True)
        return out.read_bytes()
