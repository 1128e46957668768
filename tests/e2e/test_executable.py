"""The shipped executable as the system loader sees it: a small PE32 GUI
image entered at RunInstaller, relocatable and not executing its data,
importing only system DLLs that are always loaded from the system
directory, and carrying its icon, manifest and version."""
import re
import unittest
import xml.etree.ElementTree as ET

import pefile

from zvtest import env, maker
from zvtest.session import tool, win_path

EXE = env.BUILD / "zvwebsetup.exe"
# 18 KiB: the headers' block, the code's 33 (a release's own addresses and
# pins make it the largest) and the relocations' two.
SIZE_BUDGET = 18 * 1024
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "advapi32.dll"}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(str(EXE))

    def resource(self, type_id):
        for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if entry.id == type_id:
                return entry
        self.fail("no resource of type %d" % type_id)

    def test_pe32_gui_entered_at_run_installer(self):
        self.assertEqual(0x10B, self.pe.OPTIONAL_HEADER.Magic)  # PE32
        self.assertEqual(0x14C, self.pe.FILE_HEADER.Machine)  # i386
        self.assertEqual(2, self.pe.OPTIONAL_HEADER.Subsystem)  # Windows GUI
        mapping = EXE.with_name(EXE.name + ".map").read_text()
        match = re.search(r"^\s+0x([0-9a-f]+)\s+_?RunInstaller\s*$", mapping, re.M)
        self.assertIsNotNone(match, "RunInstaller not in the link map")
        entry = self.pe.OPTIONAL_HEADER.ImageBase + self.pe.OPTIONAL_HEADER.AddressOfEntryPoint
        self.assertEqual(int(match.group(1), 16), entry)

    def test_size_within_budget(self):
        size = EXE.stat().st_size
        print("\nzvwebsetup.exe: %d bytes (budget %d)" % (size, SIZE_BUDGET))
        self.assertLessEqual(size, SIZE_BUDGET)

    def test_relocatable_and_data_never_executed(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(flags & pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"])
        self.assertTrue(flags & pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"])
        self.assertFalse(self.pe.FILE_HEADER.Characteristics
                         & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"])
        # Without them the loader cannot move the image: ASLR in name only.
        fixups = [e for block in getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", [])
                  for e in block.entries if e.type == pefile.RELOCATION_TYPE["IMAGE_REL_BASED_HIGHLOW"]]
        self.assertTrue(fixups)
        self.assertIn(b".reloc", [section.Name.rstrip(b"\0") for section in self.pe.sections])
        # With merged sections, one both writable and executable would undo DEP.
        write, execute = pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_WRITE"], \
            pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]
        for section in self.pe.sections:
            both = section.Characteristics & write and section.Characteristics & execute
            self.assertFalse(both, "%s: writable and executable" % section.Name.rstrip(b"\0"))

    def test_imports_only_system_dlls_and_no_c_runtime(self):
        names = {imp.dll.decode().lower() for imp in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue(names <= ALLOWED_IMPORTS, names)
        self.assertIn("kernel32.dll", names)
        routines = {fn.name.decode() for imp in self.pe.DIRECTORY_ENTRY_IMPORT
                    for fn in imp.imports if fn.name}
        # Loaded at run time from the system directory instead.
        for late in ("URLDownloadToFileA", "DeleteUrlCacheEntryA", "FDICopy", "WinVerifyTrust",
                     "CryptHashPublicKeyInfo"):
            self.assertNotIn(late, routines)
        self.assertIn("LoadLibraryExA", routines)
        # The import address table lies in read-only pages: Windows makes
        # writable what this directory names while it binds, so an entry
        # outside it faults there (Wine unprotects each DLL's entries itself).
        iat = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[12]
        start = self.pe.OPTIONAL_HEADER.ImageBase + iat.VirtualAddress
        for imp in self.pe.DIRECTORY_ENTRY_IMPORT:
            for fn in imp.imports:
                self.assertTrue(start <= fn.address <= start + iat.Size - 4, fn.name)

    def test_icon_group_with_one_48_pixel_png_image_the_system_loads(self):
        group = self.resource(RT_GROUP_ICON)
        self.assertEqual(["IDI_ICON1"], [str(e.name) for e in group.directory.entries])
        lang = group.directory.entries[0].directory.entries[0]
        data = self.pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
        count = int.from_bytes(data[4:6], "little")
        self.assertEqual(1, count)
        width, height, bits = data[6], data[7], int.from_bytes(data[12:14], "little")
        self.assertEqual((48, 48, 32), (width, height, bits))
        image_id = int.from_bytes(data[18:20], "little")
        icon = [e for e in self.resource(RT_ICON).directory.entries if e.id == image_id]
        self.assertEqual(1, len(icon))
        image = self.pe.get_data(icon[0].directory.entries[0].data.struct.OffsetToData, 8)
        self.assertEqual(b"\x89PNG\r\n\x1a\n", image)
        # As the window class gets it: decoded and scaled to the system's
        # icon size, the centre the shell's dark green cross.
        size, _, centre = tool("icon", win_path(EXE), "IDI_ICON1").partition(":")
        self.assertEqual("32x32", size)
        red, green, blue = bytes.fromhex(centre)
        self.assertTrue(red < green > blue and green < 0x60, centre)

    def test_manifest_requires_administrator_names_vista_and_7_and_each_monitors_scale(self):
        manifest = self.resource(RT_MANIFEST)
        self.assertEqual([1], [e.id for e in manifest.directory.entries])
        lang = manifest.directory.entries[0].directory.entries[0]
        self.assertEqual(1033, lang.id)
        xml = self.pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
        root = ET.fromstring(xml)
        level = root.find(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
        self.assertEqual("requireAdministrator", level.get("level"))
        self.assertEqual("false", level.get("uiAccess"))
        ids = {e.get("Id") for e in root.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")}
        self.assertEqual({"{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}, ids)
        # Where Windows looks for them: in another namespace it ignores them
        # and stretches the window's bitmap.
        settings = root.find("{urn:schemas-microsoft-com:asm.v3}application/"
                             "{urn:schemas-microsoft-com:asm.v3}windowsSettings")
        self.assertEqual("PerMonitorV2", settings.findtext(
            "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness").split(",")[0])
        self.assertEqual("true/pm", settings.findtext(
            "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware"))

    def test_version_resource_names_the_product_and_the_project_version(self):
        cache = maker.read_cache(env.BUILD)
        version = cache["CMAKE_PROJECT_VERSION"]
        parts = [int(cache["CMAKE_PROJECT_VERSION_" + part] or 0)
                 for part in ("MAJOR", "MINOR", "PATCH", "TWEAK")]
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        for high, low in ((fixed.FileVersionMS, fixed.FileVersionLS),
                          (fixed.ProductVersionMS, fixed.ProductVersionLS)):
            self.assertEqual(parts, [high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF])
        self.assertEqual({
            "CompanyName": cache["ZV_COMPANY_NAME"],
            "FileDescription": "Install Zelvio Viewer",
            "FileVersion": version,
            "InternalName": "zvwebsetup.exe",
            "LegalCopyright": cache["ZV_COPYRIGHT"],
            "OriginalFilename": "zvwebsetup.exe",
            "ProductName": "Zelvio Viewer",
            "ProductVersion": version,
        }, maker.version_strings(self.pe))


if __name__ == "__main__":
    unittest.main()
