"""A maker's release build: two builds of the same sources, at different
times and in different directories, give the same installer byte for
byte, and the maker's names reach its version resource as typed."""
import shutil
import tempfile
import unittest
from pathlib import Path

import pefile

from zvtest import env, maker

# RC and CMake both treat quotes, backslashes and ';' specially.
NAMES = {"ZV_COMPANY_NAME": 'Zelvio; "Nord" GmbH', "ZV_COPYRIGHT": "© Zelvio \\ Nord"}


class ReleaseBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = Path(tempfile.mkdtemp(prefix="release-", dir=env.BUILD))
        cls.addClassCleanup(shutil.rmtree, cls.top)
        # Directory names of different lengths, so that an embedded path
        # would also move everything after it; the second build also
        # offers a fixed time to tools that would rather take that.
        cls.first = maker.configure_and_build(cls.top / "a", NAMES).read_bytes()
        cls.second = maker.configure_and_build(cls.top / "second", NAMES,
                                               env={"SOURCE_DATE_EPOCH": "946684800"}).read_bytes()

    def test_two_builds_give_the_same_bytes(self):
        for place in (str(self.top), str(env.REPO)):
            for encoding in ("utf-8", "utf-16-le"):
                self.assertNotIn(place.encode(encoding), self.first)
        if self.first != self.second:
            offset = next(i for i, (a, b) in enumerate(zip(self.first, self.second)) if a != b)
            self.fail("builds differ from offset 0x%x (sizes %d, %d)"
                      % (offset, len(self.first), len(self.second)))

    def test_names_reach_the_version_resource(self):
        strings = maker.version_strings(pefile.PE(data=self.first))
        self.assertEqual(NAMES["ZV_COMPANY_NAME"], strings["CompanyName"])
        self.assertEqual(NAMES["ZV_COPYRIGHT"], strings["LegalCopyright"])


if __name__ == "__main__":
    unittest.main()
