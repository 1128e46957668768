// The file-system helpers against the real (Wine) file system, each test
// in a fresh directory of its own under the temporary directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "install/fs_helpers.h"
#include "shell/state.h"

namespace {

// The test's paths are ASCII.
std::wstring W(const std::string& path) {
  return std::wstring(path.begin(), path.end());
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void WriteFile(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
  DWORD written = 0;
  ::WriteFile(file, "zv", 2, &written, NULL);
  CloseHandle(file);
  if (attributes != FILE_ATTRIBUTE_NORMAL) {
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
    ASSERT_EQ(attributes, GetFileAttributesA(path.c_str()) & attributes) << path;
  }
}

// Removes what a failing test may have left; the helpers under test are
// not trusted with it.
void Scrub(const std::string& directory) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..")
        continue;
      const std::string full = directory + "\\" + name;
      SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        Scrub(full);
      else
        DeleteFileA(full.c_str());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(directory.c_str());
}

class FsHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    char name[64];
    sprintf(name, "zvfs%lu-%lu", GetCurrentProcessId(), GetTickCount());
    root_ = std::string(temp) + name;
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), NULL)) << root_;
  }
  void TearDown() override { Scrub(root_); }

  std::string At(const std::string& relative) const { return root_ + "\\" + relative; }

  std::string root_;
};

TEST(FindLastChar, FindsTheLastOccurrenceOrNone) {
  const WCHAR text[] = L"a\\b\\c";
  EXPECT_EQ(text + 3, FindLastChar(text, '\\'));
  EXPECT_EQ(text, FindLastChar(text, 'a'));
  EXPECT_EQ(text + 4, FindLastChar(text, 'c'));
  EXPECT_EQ(NULL, FindLastChar(text, '/'));
  EXPECT_EQ(NULL, FindLastChar(L"", '\\'));
}

TEST_F(FsHelpers, CreateDirectoryChainMakesEveryMissingLevel) {
  std::string forward = root_;
  for (char& c : forward) {
    if (c == '\\')
      c = '/';
  }
  EXPECT_FALSE(CreateDirectoryChain(W(forward + "/x/y").c_str()));
  EXPECT_TRUE(IsDirectory(At("x")));
  EXPECT_TRUE(IsDirectory(At("x\\y")));
  // All present already: nothing to do, no failure.
  EXPECT_FALSE(CreateDirectoryChain(W(At("x\\y")).c_str()));
}

TEST_F(FsHelpers, CreateDirectoryChainStopsAtTheFirstLevelItCannotCreate) {
  // An existing file is passed over as a prefix, but nothing can be made
  // beneath it.
  WriteFile(At("file"));
  EXPECT_TRUE(CreateDirectoryChain(W(At("file\\x\\y")).c_str()));
  EXPECT_FALSE(IsDirectory(At("file")));
  // A name no file system accepts; the level after it is never tried.
  EXPECT_TRUE(CreateDirectoryChain(W(At("a\\b<c\\d")).c_str()));
  EXPECT_TRUE(IsDirectory(At("a")));
  EXPECT_FALSE(Exists(At("a\\b<c")));
}

TEST_F(FsHelpers, EnsureParentDirectory) {
  // Directory part missing: created, slashes and backslashes alike.
  EXPECT_EQ(0, EnsureParentDirectory(W(root_ + "/p\\q/file.txt").c_str()));
  EXPECT_TRUE(IsDirectory(At("p\\q")));
  EXPECT_FALSE(Exists(At("p\\q\\file.txt")));
  // Directory part present.
  EXPECT_EQ(0, EnsureParentDirectory(W(At("p\\other.txt")).c_str()));

  // Directory part is a file: refused, nothing made.
  WriteFile(At("plain"));
  EXPECT_EQ(1, EnsureParentDirectory(W(At("plain\\file.txt")).c_str()));
  EXPECT_FALSE(IsDirectory(At("plain")));

  // No directory part to make.
  EXPECT_EQ(1, EnsureParentDirectory(L"file.txt"));
  EXPECT_EQ(1, EnsureParentDirectory(L"\\file.txt"));
  EXPECT_EQ(1, EnsureParentDirectory(L"/file.txt"));

  // Directory part that cannot be created.
  EXPECT_EQ(1, EnsureParentDirectory(W(At("bad<name\\file.txt")).c_str()));

  // A kept root is never created, however much of the path is missing.
  const int keep = static_cast<int>(At("gone").size());
  EXPECT_EQ(1, EnsureParentDirectory(W(At("gone\\sub\\file.txt")).c_str(), keep));
  EXPECT_EQ(1, EnsureParentDirectory(W(At("gone\\file.txt")).c_str(), keep));
  EXPECT_FALSE(Exists(At("gone")));
  ASSERT_TRUE(CreateDirectoryA(At("gone").c_str(), NULL));
  EXPECT_EQ(0, EnsureParentDirectory(W(At("gone\\sub\\deep\\file.txt")).c_str(), keep));
  EXPECT_TRUE(IsDirectory(At("gone\\sub\\deep")));
}

TEST(JoinPath, OneBackslashBetweenTheParts) {
  char out[kPathCapacity];
  ASSERT_TRUE(JoinPath("C:\\dir", "name", out));
  EXPECT_STREQ("C:\\dir\\name", out);
  ASSERT_TRUE(JoinPath("C:\\dir\\", "*", out));
  EXPECT_STREQ("C:\\dir\\*", out);
  EXPECT_FALSE(JoinPath(std::string(250, 'x').c_str(), "123456789", out));
}

TEST_F(FsHelpers, MakeUniqueTempNameIsTheDirectoryPrefixAndTickCount) {
  const std::string directory = root_ + "\\";
  char out[kPathCapacity];
  const DWORD before = GetTickCount();
  ASSERT_TRUE(MakeUniqueTempName(directory.c_str(), "ZVinsF", out));
  const DWORD after = GetTickCount();
  const std::string name = out;
  ASSERT_EQ(directory + "ZVinsF", name.substr(0, directory.size() + 6));
  const DWORD tick = strtoul(name.c_str() + directory.size() + 6, NULL, 10);
  EXPECT_LE(before, tick);
  EXPECT_GE(after, tick);
  EXPECT_FALSE(Exists(name));  // nothing is created
  // A directory without its trailing backslash gets one.
  ASSERT_TRUE(MakeUniqueTempName(root_.c_str(), "ZVinsF", out));
  EXPECT_EQ(directory + "ZVinsF", std::string(out).substr(0, directory.size() + 6));
}

TEST_F(FsHelpers, MakeUniqueTempNameWaitsForAFreeTick) {
  const std::string directory = root_ + "\\";
  // Every name of 100 ticks a little ahead is taken, and the search starts
  // at the first of them: it must wait them out. "A little" grows until
  // the names are all there in time, as making a file may take longer
  // than a tick on a slow machine (an emulated one).
  DWORD first = 0, last = 0, called = 0;
  for (DWORD lead = 200; lead <= 6400; lead *= 2) {
    first = GetTickCount() + lead;
    last = first + 100;
    for (DWORD tick = first; tick <= last; ++tick) {
      char name[32];
      sprintf(name, "ZVinsD%d", static_cast<int>(tick));
      WriteFile(directory + name);
    }
    if (static_cast<LONG>(GetTickCount() - first) < 0)
      break;
  }
  while (static_cast<LONG>((called = GetTickCount()) - first) < 0)
    Sleep(0);
  ASSERT_LE(called, last) << "took too long to set up";
  char out[kPathCapacity];
  ASSERT_TRUE(MakeUniqueTempName(directory.c_str(), "ZVinsD", out));
  const DWORD tick = strtoul(out + directory.size() + 6, NULL, 10);
  EXPECT_GT(tick, last);
  EXPECT_FALSE(Exists(out));
}

TEST_F(FsHelpers, MakeUniqueTempNameFailsCleanlyWhenTheNameCannotFit) {
  const std::string directory = std::string(kPathCapacity - 8, 'd') + "\\";
  char out[kPathCapacity];
  memset(out, 'x', sizeof(out));
  EXPECT_FALSE(MakeUniqueTempName(directory.c_str(), "ZVinsF", out));
  EXPECT_EQ(0, out[0]);
  // Not even the tail of the buffer may have been overrun.
  const std::string longer = std::string(600, 'e') + "\\";
  char guarded[kPathCapacity + 16];
  memset(guarded, 'x', sizeof(guarded));
  EXPECT_FALSE(MakeUniqueTempName(longer.c_str(), "ZVinsF", guarded));
  EXPECT_EQ(0, guarded[0]);
  for (int i = kPathCapacity; i < kPathCapacity + 16; ++i)
    EXPECT_EQ('x', guarded[i]) << i;
}

TEST_F(FsHelpers, DeleteTreeOnNothingOrAFileDoesNothing) {
  EXPECT_EQ(0, DeleteTree(At("missing").c_str(), true));
  WriteFile(At("file"));
  EXPECT_EQ(0, DeleteTree(At("file").c_str(), true));
  EXPECT_TRUE(Exists(At("file")));
}

TEST_F(FsHelpers, DeleteTreeRemovesFilesSubdirectoriesAndReadOnlyFiles) {
  CreateDirectoryA(At("t").c_str(), NULL);
  CreateDirectoryA(At("t\\sub").c_str(), NULL);
  WriteFile(At("t\\one"));
  WriteFile(At("t\\two.txt"));
  WriteFile(At("t\\sub\\locked"), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(3, DeleteTree(At("t").c_str(), true));
  EXPECT_FALSE(Exists(At("t")));
}

// What a Setup may leave: names no narrow listing can give back (it shows
// them with "?"), a read-only file in a read-only folder.
TEST_F(FsHelpers, DeleteTreeRemovesNamesOutsideTheAnsiCodePage) {
  const std::wstring t = W(At("t"));
  const std::wstring folder = t + L"\\\x30C7\x30FC\x30BF";  // データ
  ASSERT_TRUE(CreateDirectoryW(t.c_str(), NULL));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
  const std::wstring files[] = {
      t + L"\\\x30ED\x30B0 \xD83D\xDE00.txt",  // ログ 😀.txt
      folder + L"\\\x8AAC\x660E.txt",             // 説明.txt
  };
  for (const std::wstring& file : files) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    CloseHandle(handle);
  }
  ASSERT_TRUE(SetFileAttributesW(files[1].c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(2, DeleteTree(At("t").c_str(), true));
  EXPECT_FALSE(Exists(At("t")));
}

TEST_F(FsHelpers, DeleteTreeRemovesDotNamesHiddenAndSystemFiles) {
  CreateDirectoryA(At("t").c_str(), NULL);
  CreateDirectoryA(At("t\\.hidden").c_str(), NULL);
  WriteFile(At("t\\.config"));
  WriteFile(At("t\\.hidden\\inside"));
  WriteFile(At("t\\..double"));
  WriteFile(At("t\\h"), FILE_ATTRIBUTE_HIDDEN);
  WriteFile(At("t\\s"), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(5, DeleteTree(At("t").c_str(), true));
  EXPECT_FALSE(Exists(At("t")));
}

TEST_F(FsHelpers, DeleteTreeWithoutRecursionLeavesSubdirectories) {
  CreateDirectoryA(At("t").c_str(), NULL);
  CreateDirectoryA(At("t\\sub").c_str(), NULL);
  WriteFile(At("t\\one"));
  WriteFile(At("t\\sub\\kept"));
  EXPECT_EQ(1, DeleteTree(At("t").c_str(), false));
  EXPECT_FALSE(Exists(At("t\\one")));
  EXPECT_TRUE(Exists(At("t\\sub\\kept")));
}

}  // namespace
