// Starting the package's setup program and waiting for it, and for the
// second stages it hands over to, with the system's job and image-name
// routines replaced where a test needs another system's answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "cab_writer.h"
#include "install/install_step.h"
#include "shell/state.h"
#include "test_support.h"

namespace {

class RunAndWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetInstallerState();
    g_mainWnd = CreateWindowExA(0, "STATIC", "stand-in", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                200, 50, NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(IsWindowVisible(g_mainWnd));
  }
  void TearDown() override {
    DestroyWindow(g_mainWnd);
    g_mainWnd = NULL;
  }

  DWORD Run(const std::string& commandLine, DWORD* exitCode) {
    std::string buffer = commandLine;  // CreateProcessA may write to it
    return RunAndWait(&buffer[0], scratch_.path().c_str(), exitCode, LookUpKernelRoutine);
  }

  ScratchDirectory scratch_;
};

TEST_F(RunAndWaitTest, WaitsHiddenAndReportsTheProgramsExitCode) {
  // cmd's "cd" names its working directory; the exit code only exists once
  // the program has ended (before that it reads STILL_ACTIVE).
  DWORD exitCode = 0;
  EXPECT_EQ(0u, Run("cmd.exe /c cd > where.txt & exit 3010", &exitCode));
  EXPECT_EQ(3010u, exitCode);
  EXPECT_FALSE(IsWindowVisible(g_mainWnd));
  std::string where;
  ASSERT_TRUE(ReadBytes(scratch_ / "where.txt", &where));
  EXPECT_EQ(scratch_.path() + "\r\n", where);

  exitCode = 7;
  EXPECT_EQ(0u, Run("cmd.exe /c exit 0", &exitCode));
  EXPECT_EQ(0u, exitCode);
}

TEST_F(RunAndWaitTest, MissingProgramIsAStartErrorAndTheWindowStays) {
  DWORD exitCode = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            Run("\"" + (scratch_ / "Setup.exe") + "\" /install", &exitCode));
  EXPECT_TRUE(IsWindowVisible(g_mainWnd));
}

// What the system tells the install step. Each replaced answer stands in
// for one that Wine never gives.
struct System {
  // CreateFile2 exists: jobs nest (Windows 8 on).
  bool nests;
  // Image names come back as 8.3 short names, in upper case, behind a
  // \\?\ prefix, as a program started by such a path shows.
  bool otherSpelling;
  // Processes the job lists before its own ones (this test's, which runs
  // from elsewhere), as a job of many processes may.
  int listedFirst;
};

const System* g_system;
std::vector<std::string> g_lookedUp;

BOOL WINAPI SpelledImageName(HANDLE process, DWORD flags, LPSTR name, PDWORD size) {
  char image[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!QueryFullProcessImageNameA(process, flags, image, &length))
    return FALSE;
  char spelled[MAX_PATH] = "\\\\?\\";
  if (!GetShortPathNameA(image, spelled + 4, MAX_PATH - 4))
    return FALSE;
  CharUpperA(spelled);
  if (lstrlenA(spelled) >= static_cast<int>(*size))
    return FALSE;
  *size = lstrlenA(lstrcpyA(name, spelled));
  return TRUE;
}

// The job's list behind g_system->listedFirst others, given out as Windows
// does: as many IDs as there is room for, ERROR_MORE_DATA and the whole
// count when that is not all.
BOOL WINAPI LongJobList(HANDLE job, JOBOBJECTINFOCLASS kind, LPVOID out, DWORD size,
                        LPDWORD written) {
  EXPECT_EQ(JobObjectBasicProcessIdList, kind);
  EXPECT_EQ(NULL, written);
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[255];
  } own;
  if (!QueryInformationJobObject(job, kind, &own, sizeof(own), NULL))
    return FALSE;
  std::vector<ULONG_PTR> ids(g_system->listedFirst, GetCurrentProcessId());
  ids.insert(ids.end(), own.list.ProcessIdList,
             own.list.ProcessIdList + own.list.NumberOfProcessIdsInList);
  JOBOBJECT_BASIC_PROCESS_ID_LIST* list = static_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(out);
  const DWORD room = (size - offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList)) /
                     sizeof(ULONG_PTR);
  list->NumberOfAssignedProcesses = ids.size();
  list->NumberOfProcessIdsInList = std::min<DWORD>(room, ids.size());
  std::copy(ids.begin(), ids.begin() + list->NumberOfProcessIdsInList, list->ProcessIdList);
  SetLastError(room < ids.size() ? ERROR_MORE_DATA : 0);
  return room >= ids.size();
}

FARPROC LookUpOnSystem(const char* name) {
  g_lookedUp.push_back(name);
  const std::string routine = name;
  if (routine == "CreateFile2" && !g_system->nests)
    return NULL;
  if (routine == "QueryFullProcessImageNameA" && g_system->otherSpelling)
    return reinterpret_cast<FARPROC>(SpelledImageName);
  if (routine == "QueryInformationJobObject" && g_system->listedFirst)
    return reinterpret_cast<FARPROC>(LongJobList);
  return GetProcAddress(GetModuleHandleA("kernel32"), name);
}

// A bootstrapper in a package directory of a long name: Setup starts its
// second stage from there and ends at once; the second stage records its
// directory's listing after 1.5 s, when it ends.
class SecondStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetInstallerState();
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string setup = self;
    setup = setup.substr(0, setup.rfind('\\')) + "\\tools\\setup_double.exe";
    ASSERT_TRUE(CreateDirectoryA(package_.c_str(), NULL));
    ASSERT_TRUE(CopyFileA(setup.c_str(), (package_ + "\\Setup.exe").c_str(), TRUE));
    char shortName[MAX_PATH];
    ASSERT_TRUE(GetShortPathNameA(package_.c_str(), shortName, MAX_PATH));
    ASSERT_STRCASENE(package_.c_str(), shortName) << "no other spelling to try";
    SetEnvironmentVariableA("ZV_SETUP_RECORD", record_.c_str());
    SetEnvironmentVariableA("ZV_SETUP_STAGE2", "1");
    SetEnvironmentVariableA("ZV_SETUP_STAGE2_SLEEP", "1500");
  }
  void TearDown() override {
    for (const char* name : {"ZV_SETUP_RECORD", "ZV_SETUP_STAGE2", "ZV_SETUP_STAGE2_SLEEP"})
      SetEnvironmentVariableA(name, NULL);
    // A second stage not waited for ends before its folder goes.
    for (int i = 0; i < 100 && !Waited(); ++i)
      Sleep(100);
    DeleteFileA((package_ + "\\Setup.exe").c_str());
    RemoveDirectoryA(package_.c_str());
  }

  // Runs the bootstrapper on `system`: true when the second stage had
  // ended by the time RunAndWait returned.
  bool RunOn(const System& system) {
    g_system = &system;
    g_lookedUp.clear();
    DeleteFileA(record_.c_str());
    std::string commandLine = "\"" + package_ + "\\Setup.exe\" /install";
    DWORD exitCode = 1;
    EXPECT_EQ(0u, RunAndWait(&commandLine[0], package_.c_str(), &exitCode, LookUpOnSystem));
    EXPECT_EQ(0u, exitCode);
    return Waited();
  }

  bool Waited() {
    std::string record;
    return ReadBytes(record_, &record) && record.find("stage2_tree=") != std::string::npos;
  }

  ScratchDirectory scratch_;
  const std::string package_ = scratch_ / "Package of a long name";
  const std::string record_ = scratch_ / "record";
};

TEST_F(SecondStageTest, IsWaitedForWhereverTheJobListsItAndHoweverItsNameIsSpelled) {
  EXPECT_TRUE(RunOn({true, false, 0}));
  EXPECT_TRUE(RunOn({true, true, 0})) << "another spelling";
  EXPECT_TRUE(RunOn({true, false, 70})) << "listed after 70 others";
  EXPECT_TRUE(RunOn({true, true, 200})) << "both";
}

TEST_F(SecondStageTest, WhereJobsDoNotNestNoJobIsMadeAndSetupAloneIsWaitedFor) {
  EXPECT_FALSE(RunOn({false, false, 0}));
  EXPECT_EQ(std::vector<std::string>{"CreateFile2"}, g_lookedUp);
}

}  // namespace
