// The extraction directory: the descriptor it is created with, and that a
// name someone placed first is never taken over. (Wine neither stores nor
// enforces the descriptor, so what is checked is the one the installer
// builds.)
#include <gtest/gtest.h>

#include <aclapi.h>

#include <set>
#include <string>

#include "cab_writer.h"
#include "install/private_directory.h"
#include "install/work_directory.h"
#include "shell/state.h"

namespace {

bool SameWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE buffer[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(buffer);
  return CreateWellKnownSid(type, NULL, buffer, &size) && EqualSid(sid, buffer);
}

TEST(PrivateDirectorySecurity, OnlySystemAndAdministratorsInheritedInsideNothingFromOutside) {
  PSECURITY_DESCRIPTOR descriptor = NewPrivateDirectorySecurity();
  ASSERT_NE(nullptr, descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "inherits from the temporary directory";
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = NULL;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(nullptr, dacl) << "a NULL DACL grants everyone everything";
  ASSERT_EQ(2, dacl->AceCount);
  const WELL_KNOWN_SID_TYPE expected[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = NULL;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags);
    EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask);
    EXPECT_TRUE(SameWellKnownSid(&ace->SidStart, expected[i])) << "entry " << i;
  }
  LocalFree(descriptor);
}

TEST(CreatePrivateDirectory, NeverTakesOverANameThatExists) {
  // Directories and files under the names of the coming ticks, each with
  // something inside that must stay untouched.
  ScratchDirectory scratch;
  const std::string parent = scratch.path() + "\\";
  std::set<std::string> planted;
  const DWORD now = GetTickCount();
  for (DWORD tick = now; tick < now + 300; ++tick) {
    const std::string name = "ZVinsD" + std::to_string(static_cast<int>(tick));
    if (tick % 2) {
      ASSERT_TRUE(CreateDirectoryA((scratch / name).c_str(), NULL));
      ASSERT_TRUE(WriteBytes(scratch / name + "\\Setup.exe", "planted"));
    } else {
      ASSERT_TRUE(WriteBytes(scratch / name, "planted"));
    }
    planted.insert(name);
  }
  char created[kPathCapacity];
  HANDLE held = CreatePrivateDirectory(parent.c_str(), "ZVinsD", created);
  ASSERT_NE(nullptr, held);
  const std::string name = std::string(created).substr(parent.size());
  EXPECT_EQ(0u, planted.count(name)) << name;
  EXPECT_EQ(std::vector<std::string>(), ListTree(created));
  for (const std::string& other : planted) {
    std::string bytes;
    const std::string file = (scratch / other) + (other.back() % 2 ? "\\Setup.exe" : "");
    EXPECT_TRUE(ReadBytes(file, &bytes) && bytes == "planted") << other;
  }
  DeleteHeldDirectory(created, held);
}

// Held, the directory keeps its name and place: nobody can move it away
// and put another in its place. It still serves as a directory, a child
// process's current directory included, and goes when let go.
TEST(CreatePrivateDirectory, HeldAgainstRenameAndDeletionUntilDeleted) {
  ScratchDirectory scratch;
  char created[kPathCapacity];
  HANDLE held = CreatePrivateDirectory((scratch.path() + "\\").c_str(), "ZVinsW", created);
  ASSERT_NE(nullptr, held);
  const std::string directory = created;
  EXPECT_FALSE(MoveFileA(created, (scratch / "moved").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(RemoveDirectoryA(created));
  ASSERT_TRUE(CreateDirectoryA((directory + "\\sub").c_str(), NULL));
  ASSERT_TRUE(WriteBytes(directory + "\\sub\\Setup.exe", "inside"));
  ASSERT_TRUE(WriteBytes(directory + "\\readme.txt", "inside"));

  STARTUPINFOA startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  char commandLine[] = "cmd.exe /c cd > where.txt";
  ASSERT_TRUE(CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, created,
                             &startup, &process));
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::string where;
  EXPECT_TRUE(ReadBytes(directory + "\\where.txt", &where));
  EXPECT_EQ(directory + "\r\n", where);

  DeleteHeldDirectory(created, held);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(directory.c_str()));
  EXPECT_EQ(std::vector<std::string>(), ListTree(scratch.path()));
}

TEST(CreatePrivateDirectory, NameTooLongCreatesNothing) {
  const std::string parent = "C:\\" + std::string(250, 'x') + "\\";
  char created[kPathCapacity] = "stale";
  EXPECT_EQ(nullptr, CreatePrivateDirectory(parent.c_str(), "ZVinsD", created));
  EXPECT_STREQ("", created);
}

// The work directory goes to the system's own temporary directory, never
// the user's: SystemTemp where the system has one, else Temp.
TEST(CreateWorkDirectory, InTheSystemTemporaryDirectoryHeldUntilRemoved) {
  char windows[kPathCapacity];
  ASSERT_NE(0u, GetSystemWindowsDirectoryA(windows, kPathCapacity));
  const std::string systemTemp = std::string(windows) + "\\SystemTemp";
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(systemTemp.c_str()))
      << "this prefix has a SystemTemp of its own";
  for (const std::string expected : {std::string(windows) + "\\Temp\\", systemTemp + "\\"}) {
    SCOPED_TRACE(expected);
    if (expected.find("SystemTemp") != std::string::npos)
      ASSERT_TRUE(CreateDirectoryA(systemTemp.c_str(), NULL));
    ASSERT_EQ(0u, CreateWorkDirectory());
    EXPECT_STREQ(expected.c_str(), g_tempDir);
    const std::string work = g_workDir;
    EXPECT_EQ(expected + "ZVinsW", work.substr(0, expected.size() + 6));
    EXPECT_FALSE(MoveFileA(work.c_str(), (expected + "moved").c_str()));
    ASSERT_TRUE(WriteBytes(work + "\\ZVinsF1", "partial download"));
    RemoveWorkDirectory();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(work.c_str()));
    EXPECT_EQ(nullptr, g_workDirHandle);
  }
  EXPECT_TRUE(RemoveDirectoryA(systemTemp.c_str()));
}

}  // namespace
