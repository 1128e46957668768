"""The maker's cabinet writer, zvcab, read back by decoders that share no
code with it: cabextract (libmspack) and gcab's reader (libgcab) give back
every byte, name, time and attribute, with each method, in one folder and
in several. What a cabinet cannot hold is refused, naming the file and
leaving nothing; the same files give the same bytes; and make-package signs
nothing that cabextract does not give back whole. (cabinet.dll reads them
in test_install, through the installer.)"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from zvtest import cabinets, env
from zvtest.session import TOOLS

ZVCAB = cabinets.ZVCAB
BASE_TIME = 1623764758  # 2021-06-15 13:45:58 UTC


def run(command, **options):
    return subprocess.run([str(part) for part in command], stdin=subprocess.DEVNULL,
                          capture_output=True, **options)


def files_under(root):
    """Relative path (with /) -> bytes of every file under root."""
    root = Path(root)
    return {p.relative_to(root).as_posix(): p.read_bytes() for p in root.rglob("*") if p.is_file()}


def dos_rounded(seconds):
    """What an MS-DOS time keeps of a time: even seconds, local time."""
    local = time.localtime(seconds)
    return time.mktime(local[:5] + (local.tm_sec // 2 * 2,) + local[6:])


def folders_of(cabinet):
    """(first data offset, data blocks, typeCompress) of each folder."""
    count, = struct.unpack_from("<H", cabinet, 26)
    return [struct.unpack_from("<IHH", cabinet, 36 + 8 * i) for i in range(count)]


class WriterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = Path(tempfile.mkdtemp(prefix="cabwriter-", dir=env.BUILD))
        cls.addClassCleanup(shutil.rmtree, cls.top)
        cls.files = {name.replace("\\", "/"): data
                     for name, data in cabinets.encoder_corpus().items()}
        cls.stage = cls.top / "stage"
        cabinets.write_tree(cls.stage, cls.files)
        # A time of its own for each file, odd seconds among them.
        cls.times = {}
        for index, name in enumerate(sorted(cls.files)):
            cls.times[name] = BASE_TIME + index * 3601
            os.utime(cls.stage / name, (cls.times[name], cls.times[name]))

    def pack(self, *options, stage=None, name="out.cab"):
        out = self.top / name
        made = run([ZVCAB, *options, "-o", out, "-C", stage or self.stage, "."])
        self.assertEqual(0, made.returncode, made.stderr.decode(errors="replace"))
        return out

    def check_listing(self, cab):
        """gcab's listing: every name, size, time and attribute."""
        listed = run(["gcab", "-l", "-v", cab], check=True).stdout.decode()
        seen = {}
        for line in listed.splitlines():
            name, size, day, clock, attributes = line.rsplit(" ", 4)
            seen[name] = (int(size), time.mktime(time.strptime(day + " " + clock,
                                                                "%Y-%m-%d %H:%M:%S")),
                          int(attributes, 16))
        expected = {name.replace("/", "\\"): (
            len(data), dos_rounded(self.times[name]), 0x20 | (0 if name.isascii() else 0x80))
            for name, data in self.files.items()}
        self.assertEqual(expected, seen)

    def check_extracted(self, directory, times=True):
        unpacked = files_under(directory)
        self.assertEqual(sorted(self.files), sorted(unpacked))
        for name, data in self.files.items():
            self.assertTrue(data == unpacked[name], "%s differs" % name)
            if times:
                self.assertEqual(dos_rounded(self.times[name]),
                                 (Path(directory) / name).stat().st_mtime, name)

    def test_decoders_give_back_every_file(self):
        cases = [
            ("lzx", ()), ("lzx:15", ()), ("mszip", ()), ("none", ()),
            # Several folders: a new one wherever the next file would pass
            # 30 blocks (the largest file takes 28).
            ("lzx", ("--max-folder-blocks", "30")), ("mszip", ("--max-folder-blocks", "30")),
        ]
        for method, extra in cases:
            with self.subTest(method=method, extra=extra):
                cab = self.pack("-c", method, *extra)
                cabinet = cab.read_bytes()
                folders = folders_of(cabinet)
                type_compress = {"lzx": 0x1503, "lzx:15": 0x0F03, "mszip": 1, "none": 0}[method]
                self.assertEqual({type_compress}, {f[2] for f in folders})
                if extra:
                    self.assertGreater(len(folders), 1)
                    self.assertLessEqual(max(f[1] for f in folders), 30)
                else:
                    self.assertEqual(1, len(folders))
                self.check_listing(cab)
                out = self.top / "cabextract"
                shutil.rmtree(out, ignore_errors=True)
                extracted = run(["cabextract", "-q", "-d", out, cab])
                self.assertEqual(0, extracted.returncode, extracted.stderr)
                self.check_extracted(out)
                out = self.top / "gcab"
                shutil.rmtree(out, ignore_errors=True)
                out.mkdir()
                extracted = run(["gcab", "-x", "-C", out, cab])
                self.assertEqual(0, extracted.returncode, extracted.stderr)
                self.check_extracted(out, times=False)

    def test_programs_alone(self):
        # A program first in its stream: the LZX match finder once handed
        # on subtrees at a chunk's end and put out matches longer than the
        # bytes they stood for, here in the test Setup.exe's debug data.
        programs = [TOOLS / "setup_double.exe"] + [
            d / "oleacc.dll" for d in cabinets.WINE_X86 if (d / "oleacc.dll").exists()][:1]
        for program in programs:
            with self.subTest(program.name):
                stage = self.top / ("alone-" + program.stem)
                stage.mkdir()
                shutil.copyfile(program, stage / program.name)
                cab = self.pack(stage=stage, name=program.stem + ".cab")
                out = self.top / ("alone-" + program.stem + "-out")
                self.assertEqual(0, run(["cabextract", "-q", "-d", out, cab]).returncode)
                self.assertTrue(program.read_bytes() == (out / program.name).read_bytes())

    def test_same_files_same_bytes(self):
        # A copy made in another order, times kept: its directory lists
        # its entries in another order.
        copy = self.top / "copy"
        for name in sorted(self.files, reverse=True):
            (copy / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(self.stage / name, copy / name)
        for method in ("lzx", "mszip"):
            with self.subTest(method):
                first = self.pack("-c", method, name="first.cab").read_bytes()
                again = self.pack("-c", method, stage=copy, name="again.cab").read_bytes()
                self.assertTrue(first == again, "other bytes from the same files")

    def test_what_a_cabinet_cannot_hold_is_refused(self):
        refused = self.top / "refused"

        def case(label, build, options=()):
            stage = refused / label
            stage.mkdir(parents=True)
            (stage / "Setup.exe").write_bytes(b"MZ")
            culprit = build(stage)
            out = refused / (label + ".cab")
            made = run([ZVCAB, *options, "-o", out, "-C", stage, "."])
            return made, culprit, out

        def huge(stage):
            with open(stage / "huge.bin", "wb") as f:
                f.truncate(4 << 30)  # sparse: nothing is read before it is refused
            return "huge.bin"

        def long_name(stage):
            (stage / ("d" * 200)).mkdir()
            (stage / ("d" * 200) / ("f" * 55)).write_bytes(b"x")  # 256 bytes with the backslash
            return "f" * 55

        def not_utf8(stage):
            with open(os.path.join(os.fsencode(stage), b"caf\xe9.txt"), "wb") as f:
                f.write(b"x")
            return "caf"

        def link(stage):
            (stage / "link.txt").symlink_to("Setup.exe")
            return "link.txt"

        def windows_refuses(stage):
            (stage / "what?.txt").write_bytes(b"x")
            return "what?.txt"

        def larger_than_a_folder(stage):
            (stage / "big.bin").write_bytes(bytes(2 * cabinets.BLOCK + 1))
            return "big.bin"

        def too_many(stage):
            for i in range(65535):
                (stage / ("%05d" % i)).touch()
            return "65536 files"

        cases = [("huge", huge, ()), ("long-name", long_name, ()), ("not-utf8", not_utf8, ()),
                 ("link", link, ()), ("windows-refuses", windows_refuses, ()),
                 ("larger-than-a-folder", larger_than_a_folder, ("--max-folder-blocks", "2")),
                 ("too-many", too_many, ())]
        for label, build, options in cases:
            with self.subTest(label):
                made, culprit, out = case(label, build, options)
                self.assertEqual(1, made.returncode)
                self.assertIn(culprit, made.stderr.decode(errors="replace"))
                self.assertFalse(out.exists(), "a cabinet was left")
        for bad in (["-c", "lzx:22"], ["-c", "rar"], []):
            made = run([ZVCAB, *bad, "-C", self.stage, "."])
            self.assertEqual(2, made.returncode, bad)


# A writer that packs a copy of the folder it is given, changed.
LYING_WRITER = """#!%s
import os, shutil, subprocess, sys, tempfile
args = sys.argv[1:]
at = args.index("-C") + 1
with tempfile.TemporaryDirectory() as copy:
    shutil.copytree(args[at], copy, dirs_exist_ok=True)
    data = os.path.join(copy, "payload", "data.bin")
    if %r == "flip":
        content = bytearray(open(data, "rb").read())
        content[1000] ^= 1
        open(data, "wb").write(content)
    elif %r == "drop":
        os.remove(data)
    else:
        open(os.path.join(copy, "extra.txt"), "wb").write(b"extra")
    args[at] = copy
    sys.exit(subprocess.call([%r] + args))
"""


class MakePackageCheckTest(unittest.TestCase):
    def test_nothing_signed_unless_cabextract_gives_back_every_file(self):
        with tempfile.TemporaryDirectory(prefix="lying-writer-", dir=env.BUILD) as scratch:
            scratch = Path(scratch)
            cabinets.write_tree(scratch / "app", {"Setup.exe": b"MZ setup",
                                                  "payload\\data.bin": os.urandom(5000)})
            for lie in ("flip", "drop", "extra"):
                with self.subTest(lie):
                    writer = scratch / ("writer-" + lie)
                    writer.write_text(LYING_WRITER % (sys.executable, lie, lie, ZVCAB))
                    writer.chmod(0o755)
                    out = scratch / (lie + ".cab")
                    command, environ = cabinets.make_package_command(scratch / "app", out,
                                                                     method="mszip")
                    environ["ZVCAB"] = str(writer)
                    made = subprocess.run(command, env=environ, stdin=subprocess.DEVNULL,
                                          capture_output=True, text=True, timeout=120)
                    self.assertEqual(1, made.returncode, made.stderr)
                    self.assertIn("nothing signed", made.stderr)
                    self.assertFalse(out.exists())
            # The honest writer passes the same check.
            command, environ = cabinets.make_package_command(scratch / "app", scratch / "ok.cab",
                                                             method="mszip")
            made = subprocess.run(command, env=environ, stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=120)
            self.assertEqual(0, made.returncode, made.stderr)


if __name__ == "__main__":
    unittest.main()
