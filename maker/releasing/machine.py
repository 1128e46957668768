"""Each package's Setup.exe must be built for the machine its package is
for: the installer picks the package by the machine Windows runs on, and a
Setup.exe of another machine either does not start there or starts only
through an emulator that some of those Windows lack (an x64 build as the
ARM64 package fails on every Windows 10 on ARM with l:0x000000c1).

The machine is the PE file header's: x86 (0x14c) for the 32-bit package,
x64 (0x8664) for the 64-bit one, ARM64 (0xAA64) for the ARM64 one. An
ARM64X program, native ARM64 code beside ARM64EC code, carries ARM64 in
its header (its x64 face appears only once the loader applies its ARM64X
relocations), so it passes as ARM64; the header value ARM64X (0xA64E) is
taken as well. An ARM64EC program alone carries x64 and is not told
apart from an x64 build."""
import struct

from .common import Failure

X86, X64, ARM64, ARM64X, ARM64EC = 0x14C, 0x8664, 0xAA64, 0xA64E, 0xA641
NAMES = {X86: "x86", X64: "x64", ARM64: "ARM64", ARM64X: "ARM64X", ARM64EC: "ARM64EC",
         0x1C4: "ARM Thumb-2", 0x200: "Itanium"}
# What each package (by its options' suffix) takes.
ACCEPTED = {"32": (X86,), "64": (X64,), "-arm64": (ARM64, ARM64X)}


def machine_of(file):
    """The machine the PE file header of `file` (open, binary) names; None
    when it is no PE file."""
    file.seek(0)
    dos = file.read(0x40)
    if len(dos) < 0x40 or dos[:2] != b"MZ":
        return None
    file.seek(struct.unpack_from("<I", dos, 0x3C)[0])
    header = file.read(6)
    if len(header) < 6 or header[:4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", header, 4)[0]


def name(machine):
    return "%s (0x%X)" % (NAMES.get(machine, "an unknown machine"), machine)


def setup_programs(folder):
    """The folder's Setup.exe, under any case, as Windows finds it."""
    return sorted(p for p in folder.iterdir() if p.name.lower() == "setup.exe" and p.is_file())


def check_machine(arch, kind, folder):
    """Refuses a folder whose Setup.exe is not built for package `arch`
    (an options' suffix: "32", "64", "-arm64"), holding `kind`'s program."""
    wanted = " or ".join(name(machine) for machine in ACCEPTED[arch])
    for program in setup_programs(folder):
        with open(program, "rb") as file:
            found = machine_of(file)
        if found is None:
            raise Failure("--app%s: %s is not a Windows program (no PE header)" % (arch, program))
        if found not in ACCEPTED[arch]:
            raise Failure("--app%s: %s is built for %s, and the %s package needs %s: give "
                          "--app%s the %s build of the application"
                          % (arch, program, name(found), kind, wanted, arch, kind))
