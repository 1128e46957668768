// Starting the package's setup program and waiting for it.
#include <gtest/gtest.h>

#include <string>

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
    return RunAndWait(&buffer[0], scratch_.path().c_str(), exitCode);
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

}  // namespace
