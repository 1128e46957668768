// Extraction through the system's cabinet decoder, with cabinets written
// byte for byte by the tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cab_writer.h"
#include "download/verify_package.h"
#include "install/cabinet.h"
#include "install/fs_helpers.h"

namespace {

typedef std::vector<std::string> Tree;

const WORD kDate = DosDate(2021, 6, 15);
const WORD kTime = DosTime(13, 45, 58);

CabEntry File(const std::string& name, const std::string& data, WORD attributes = 0x20) {
  return CabEntry{name, data, kDate, kTime, attributes};
}

// A scratch directory holding the cabinet as in.cab and the destination
// as out\dest, so that anything written beside the destination shows up
// in out.
class CabinetExtraction : public ::testing::Test {
 protected:
  std::string cabinet() const { return scratch_ / "in.cab"; }
  std::string out() const { return scratch_ / "out"; }
  std::string dest() const { return out() + "\\dest"; }

  void SetUp() override { EmptyOut(); }

  void EmptyOut() {
    DeleteTree(out().c_str(), true);
    ASSERT_TRUE(CreateDirectoryA(out().c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(dest().c_str(), NULL));
  }

  // Held as the installer holds the checked package (which goes with the
  // handle), and unpacked through that handle.
  bool Extract(const std::string& cabinetBytes) {
    EXPECT_TRUE(WriteBytes(cabinet(), cabinetBytes));
    HANDLE held = OpenPackage(cabinet().c_str());
    EXPECT_NE(INVALID_HANDLE_VALUE, held);
    const bool extracted = ExtractCabinet(dest().c_str(), held);
    CloseHandle(held);
    return extracted;
  }

  std::string Contents(const std::string& relative) {
    std::string bytes;
    EXPECT_TRUE(ReadBytes(dest() + "\\" + relative, &bytes)) << relative;
    return bytes;
  }

  DWORD Attributes(const std::string& relative) {
    return GetFileAttributesW(Wide(dest() + "\\" + relative).c_str());
  }

  ScratchDirectory scratch_;
};

std::string Pattern(size_t size, unsigned seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245 + 12345;
    data[i] = static_cast<char>(seed >> 16);
  }
  return data;
}

TEST_F(CabinetExtraction, RecreatesSubdirectoriesAndContents) {
  const std::string large = Pattern(100000, 7);  // spans four data blocks
  ASSERT_TRUE(Extract(BuildCabinet({
      File("Setup.exe", "MZ stand-in"),
      File("sub\\dir\\file.txt", "deep"),
      File("sub\\other.txt", "shallow"),
      File("empty.dat", ""),
      File("data\\large.bin", large),
  })));
  EXPECT_EQ(Tree({"Setup.exe", "data\\", "data\\large.bin", "empty.dat", "sub\\", "sub\\dir\\",
                  "sub\\dir\\file.txt", "sub\\other.txt"}),
            ListTree(dest()));
  EXPECT_EQ("MZ stand-in", Contents("Setup.exe"));
  EXPECT_EQ("deep", Contents("sub\\dir\\file.txt"));
  EXPECT_EQ("shallow", Contents("sub\\other.txt"));
  EXPECT_EQ("", Contents("empty.dat"));
  EXPECT_TRUE(large == Contents("data\\large.bin"));
}

TEST_F(CabinetExtraction, KeepsReadOnlyHiddenSystemAndArchiveBitsOnly) {
  const struct {
    const char* name;
    WORD stored;
    DWORD expected;
  } cases[] = {
      {"plain", 0x00, 0},
      {"readonly", 0x01, FILE_ATTRIBUTE_READONLY},
      {"readonly-archive", 0x21, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {"hidden-system", 0x06, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      // The cabinet's run-after-extraction (0x40) and UTF-8 name (0x80) bits.
      {"exec-utf8", 0xE1, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
  };
  std::vector<CabEntry> entries;
  for (const auto& c : cases)
    entries.push_back(File(c.name, c.name, c.stored));
  ASSERT_TRUE(Extract(BuildCabinet(entries)));
  const DWORD kOthers = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_NORMAL;
  for (const auto& c : cases) {
    const DWORD attributes = Attributes(c.name);
    EXPECT_EQ(c.expected & kOthers, attributes & kOthers) << c.name;
    // Wine reports the archive bit on every file, so only its presence can
    // be checked.
    if (c.expected & FILE_ATTRIBUTE_ARCHIVE)
      EXPECT_TRUE(attributes & FILE_ATTRIBUTE_ARCHIVE) << c.name;
  }
}

ULONGLONG Ticks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The instant a local wall-clock time names on this machine.
ULONGLONG LocalInstant(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME local = {year, month, 0, day, hour, minute, second, 0};
  SYSTEMTIME utc;
  FILETIME instant;
  EXPECT_TRUE(TzSpecificLocalTimeToSystemTime(NULL, &local, &utc));
  EXPECT_TRUE(SystemTimeToFileTime(&utc, &instant));
  return Ticks(instant);
}

TEST_F(CabinetExtraction, StoredLocalTimeBecomesCreationAndLastWriteTime) {
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  ASSERT_NE(0, zone.Bias) << "needs a time zone away from UTC, as ctest sets with TZ";
  ASSERT_TRUE(Extract(BuildCabinet({
      CabEntry{"epoch.txt", "1980", DosDate(1980, 1, 1), DosTime(0, 0, 0), 0x20},
      CabEntry{"sub\\later.txt", "2021", kDate, kTime, 0x01},
  })));
  struct {
    const char* name;
    ULONGLONG expected;
  } cases[] = {
      {"epoch.txt", LocalInstant(1980, 1, 1, 0, 0, 0)},
      {"sub\\later.txt", LocalInstant(2021, 6, 15, 13, 45, 58)},
  };
  for (const auto& c : cases) {
    HANDLE file = CreateFileA((dest() + "\\" + c.name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                              NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << c.name;
    FILETIME created, accessed, written;
    EXPECT_TRUE(GetFileTime(file, &created, &accessed, &written));
    CloseHandle(file);
    EXPECT_EQ(c.expected, Ticks(created)) << c.name;
    EXPECT_EQ(c.expected, Ticks(written)) << c.name;
  }
}

TEST_F(CabinetExtraction, RepeatedNameLeavesOnlyTheLastContents) {
  ASSERT_TRUE(Extract(BuildCabinet({
      File("dup.txt", "the first and longer version"),
      File("dup.txt", "second"),
  })));
  EXPECT_EQ("second", Contents("dup.txt"));
}

// Anything beneath the scratch directory that is neither the cabinet nor
// inside the destination.
Tree Outside(const std::string& scratch) {
  Tree outside;
  for (const std::string& entry : ListTree(scratch)) {
    if (entry != "in.cab" && entry != "out\\" && entry.compare(0, 9, "out\\dest\\") != 0)
      outside.push_back(entry);
  }
  return outside;
}

TEST_F(CabinetExtraction, RefusesNamesThatLeaveTheDestination) {
  const char* const names[] = {
      "..\\escape.txt", "a\\..\\..\\escape.txt", "sub\\...\\escape.txt", ". .\\escape.txt",
      "\\escape.txt", "/escape.txt", "\\\\server\\share\\escape.txt",
      "C:escape.txt", "C:\\escape.txt", "escape.txt:stream",
  };
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EmptyOut();
    EXPECT_FALSE(Extract(BuildCabinet({File("first.txt", "fine"), File(name, "escaped")})));
    EXPECT_EQ(Tree(), Outside(scratch_.path()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\escape.txt"));
    // Nothing of the refused entry, not even inside the destination.
    for (const std::string& entry : ListTree(dest()))
      EXPECT_EQ(std::string::npos, entry.find("escape")) << entry;
  }
}

// Device names stand for a device in every directory: the bytes would go
// to a port or nowhere while the extraction looked complete.
TEST_F(CabinetExtraction, RefusesDeviceNames) {
  const char* const names[] = {"NUL", "aux.txt", "sub\\COM1", "con", "LPT1.log", "prn .x",
                               "conout$", "COM9\\x.txt"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EmptyOut();
    EXPECT_FALSE(Extract(BuildCabinet({File(name, "to a device")})));
  }
  // Names merely starting like one are ordinary files.
  EmptyOut();
  ASSERT_TRUE(Extract(BuildCabinet({File("console.txt", "1"), File("nul1", "2"),
                                    File("COM10", "3"), File("auxiliary\\lpt.txt", "4")})));
  EXPECT_EQ(Tree({"COM10", "auxiliary\\", "auxiliary\\lpt.txt", "console.txt", "nul1"}),
            ListTree(dest()));
}

// Cabinet tools mark a name stored in UTF-8 with attribute bit 0x80; an
// unmarked name is in the ANSI code page (1252 under the tests' Wine).
TEST_F(CabinetExtraction, NamesMarkedUtf8AreDecodedAsUtf8AndOthersAsAnsi) {
  const WORD kUtf8 = 0xA0;
  ASSERT_TRUE(Extract(BuildCabinet({
      File("Handbuch f\xC3\xBCr Anf\xC3\xA4nger.txt", "de", kUtf8),
      File("\xE8\xAA\xAC\xE6\x98\x8E\xE6\x9B\xB8.txt", "ja", kUtf8),  // outside 1252
      File("\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\\\xF0\x9F\x98\x80.txt", "ru", kUtf8 | 0x01),
      File("f\xFCr.txt", "ansi"),
  })));
  EXPECT_EQ(Tree({"Handbuch f\xC3\xBCr Anf\xC3\xA4nger.txt", "f\xC3\xBCr.txt",
                  "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\\",
                  "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\\\xF0\x9F\x98\x80.txt",
                  "\xE8\xAA\xAC\xE6\x98\x8E\xE6\x9B\xB8.txt"}),
            ListTree(dest()));
  EXPECT_EQ("ja", Contents("\xE8\xAA\xAC\xE6\x98\x8E\xE6\x9B\xB8.txt"));
  // Times and attributes reach the file under its true name too.
  const std::string deep = "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\\\xF0\x9F\x98\x80.txt";
  EXPECT_EQ("ru", Contents(deep));
  EXPECT_TRUE(Attributes(deep) & FILE_ATTRIBUTE_READONLY);
}

// Marked UTF-8 but not UTF-8: refused, never patched up into a name that
// an overlong encoding hides ("..", "\\", ":").
TEST_F(CabinetExtraction, RefusesNamesMarkedUtf8ThatAreNotUtf8) {
  const char* const names[] = {
      "\xC0\xAE\xC0\xAE\\escape.txt",  // overlong "."
      "..\xC1\x9C" "escape.txt",         // overlong "\\"
      "C\xC0\xBA" "escape.txt",          // overlong ":"
      "\x80" "escape.txt",                // lone continuation byte
      "escape\xE8\xAA.txt",              // cut short
      "\xED\xA0\x80" "escape.txt",        // a surrogate
  };
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EmptyOut();
    EXPECT_FALSE(Extract(BuildCabinet({File("first.txt", "fine"), File(name, "escaped", 0xA0)})));
    EXPECT_EQ(Tree(), Outside(scratch_.path()));
    for (const std::string& entry : ListTree(dest()))
      EXPECT_EQ(std::string::npos, entry.find("escape")) << entry;
  }
  // A device name is one in any encoding.
  EmptyOut();
  EXPECT_FALSE(Extract(BuildCabinet({File("COM\xC2\xB9", "to a device", 0xA0)})));
}

TEST_F(CabinetExtraction, PathsUpTo259CharactersOnly) {
  // dest + "\\" + name: 259 characters fit a 260-byte buffer, 260 do not.
  const size_t fits = 259 - dest().size() - 1;
  const std::string longest(fits, 'n');
  ASSERT_TRUE(Extract(BuildCabinet({File(longest, "fits")})));
  EXPECT_EQ("fits", Contents(longest));

  EXPECT_FALSE(Extract(BuildCabinet({File("sub\\" + std::string(fits - 3, 'm'), "too long")})));
  EXPECT_EQ(Tree(), Outside(scratch_.path()));
  EXPECT_EQ(Tree({longest}), ListTree(dest()));

  // The limit is in UTF-16 units, not in the bytes the cabinet stores:
  // three bytes each here.
  std::string wide;
  for (size_t i = 0; i < fits; ++i)
    wide += "\xE8\xAA\xAC";
  EmptyOut();
  ASSERT_TRUE(Extract(BuildCabinet({File(wide, "fits", 0xA0)})));
  EXPECT_EQ("fits", Contents(wide));
  EmptyOut();
  EXPECT_FALSE(Extract(BuildCabinet({File(wide + "\xE8\xAA\xAC", "too long", 0xA0)})));
  EXPECT_EQ(Tree(), ListTree(dest()));
}

// What FDI reads is the file object that was checked, whatever its name
// leads to by the time of the unpacking.
TEST_F(CabinetExtraction, ReadsTheHeldCabinetEvenWhenItsNameLeadsElsewhere) {
  const std::string folder = scratch_ / "package";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  ASSERT_TRUE(WriteBytes(folder + "\\in.cab", BuildCabinet({File("Setup.exe", "checked")})));
  HANDLE held = OpenPackage((folder + "\\in.cab").c_str());
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  // The held file cannot be renamed, but the folder holding it can: a
  // folder of the same name now holds another cabinet.
  ASSERT_TRUE(MoveFileA(folder.c_str(), (scratch_ / "moved").c_str()));
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
  ASSERT_TRUE(WriteBytes(folder + "\\in.cab", BuildCabinet({File("Setup.exe", "swapped")})));
  EXPECT_TRUE(ExtractCabinet(dest().c_str(), held));
  CloseHandle(held);
  EXPECT_EQ("checked", Contents("Setup.exe"));
}

TEST_F(CabinetExtraction, NotACabinetCreatesNothing) {
  const std::string notCabinets[] = {
      "",
      "<html><body>404 Not Found</body></html>",
      "MZ" + Pattern(5000, 3),
      "MSCF",  // the signature alone
  };
  for (const std::string& bytes : notCabinets) {
    SCOPED_TRACE(bytes.substr(0, 8));
    EmptyOut();
    EXPECT_FALSE(Extract(bytes));
    EXPECT_EQ(Tree(), ListTree(dest()));
  }
}

TEST_F(CabinetExtraction, DamagedCabinetFails) {
  const std::string good = BuildCabinet({File("a.txt", Pattern(40000, 1)), File("b\\c.txt", "c")});
  ASSERT_TRUE(Extract(good));

  struct {
    const char* what;
    std::string bytes;
  } damaged[] = {
      {"cut inside the header", good.substr(0, 30)},
      {"cut inside the file entries", good.substr(0, 60)},
      {"cut inside the first block", good.substr(0, 10000)},
      {"cut inside the last block", good.substr(0, good.size() - 1)},
      {"a flipped byte in the data", good},
      {"an unknown compression type", good},
  };
  damaged[4].bytes[good.size() - 20000] ^= 0x01;
  damaged[5].bytes[42] = 0x0F;  // the folder's compression type
  for (const auto& d : damaged) {
    SCOPED_TRACE(d.what);
    EmptyOut();
    EXPECT_FALSE(Extract(d.bytes));
    EXPECT_EQ(Tree(), Outside(scratch_.path()));
  }
}

}  // namespace
