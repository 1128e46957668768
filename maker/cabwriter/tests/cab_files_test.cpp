// The cabinet's limits where ordinary files never reach them: names at and
// past what decoders take, UTF-8 that Windows would refuse, times outside
// what an MS-DOS time holds, files that exactly fill a folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "cab_files.h"
#include "cab_format.h"

namespace cab {
namespace {

TEST(CabFiles, NamesRefusedWhereDecodersOrWindowsWould) {
  EXPECT_EQ("", CheckStoredName(std::string(255, 'n')));
  EXPECT_NE("", CheckStoredName(std::string(256, 'n')));
  EXPECT_EQ("", CheckStoredName("Donn\xc3\xa9" "es\\\xe2\x82\xac.txt"));
  for (const char* bad : {"\xc0\xaf", "\xed\xa0\x80", "\xe2\x82", "\xf4\x90\x80\x80", "\x80",
                          "a\\..\\b", "a\\\\b", "\\a", "a:b"}) {
    EXPECT_NE("", CheckStoredName(bad)) << bad;
  }
  EXPECT_NE("", CheckStoredName(std::string("a\0b", 3)));
  EXPECT_EQ(kAttributeArchive, AttributesFor("plain.txt"));
  EXPECT_EQ(kAttributeArchive | kAttributeUtf8Name, AttributesFor("f\xc3\xbcr.txt"));
}

TEST(CabFiles, TimesHeldToWhatAnMsDosTimeHolds) {
  setenv("TZ", "UTC", 1);
  tzset();
  uint16_t date, time;
  DosDateTime(1623764759, date, time);  // 2021-06-15 13:45:59: seconds go in twos
  EXPECT_EQ((2021 - 1980) << 9 | 6 << 5 | 15, date);
  EXPECT_EQ(13 << 11 | 45 << 5 | 29, time);
  DosDateTime(283996799, date, time);  // 1978-12-31 23:59:59
  EXPECT_EQ(1 << 5 | 1, date);
  EXPECT_EQ(0, time);
  DosDateTime(4386268800, date, time);  // 2109-01-01
  EXPECT_EQ(127 << 9 | 12 << 5 | 31, date);
}

TEST(CabFiles, FoldersFilledExactlyThenBegunAnew) {
  const uint64_t capacity = 3 * kBlockSize;
  std::vector<InputFile> files = {{"a", "a", capacity - 10, 0, 0, 0x20},
                                  {"b", "b", 10, 0, 0, 0x20},
                                  {"c", "c", 0, 0, 0, 0x20},
                                  {"d", "d", 1, 0, 0, 0x20}};
  std::vector<FolderPlan> folders;
  std::string error;
  ASSERT_TRUE(PlanFolders(files, 3, folders, error)) << error;
  ASSERT_EQ(2u, folders.size());
  EXPECT_EQ(3u, folders[0].fileCount);  // the empty file still fits
  EXPECT_EQ(capacity, folders[0].size);
  EXPECT_EQ(3u, folders[1].firstFile);

  files.push_back({"e", "e", capacity + 1, 0, 0, 0x20});
  EXPECT_FALSE(PlanFolders(files, 3, folders, error));
  EXPECT_NE(std::string::npos, error.find("e: ")) << error;
}

}  // namespace
}  // namespace cab
