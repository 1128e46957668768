// The choice of package, each system's answers given in place of its
// routines, for builds with and without each package; and the stall watch,
// time passing only in the waits given in place of Sleep.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/download_to_file.h"
#include "download/download_worker.h"
#include "download/package_source.h"
#include "shell/state.h"
#include "test_support.h"

namespace {

const int kNone = -1;
const int kFails = -2;

// What one system answers. Each field is kNone where the system lacks the
// routine; a failing call (kFails) leaves an answer that must not be taken.
struct Platform {
  const char* name;
  int wow64;    // IsWow64Process
  int machine;  // IsWow64Process2's native machine
  int amd64;    // GetMachineTypeAttributes for AMD64
  // The package taken by each build of kBuilds: 3 the 32-bit one, 6 the
  // 64-bit one, A the ARM64 one, - none.
  const char* taken;
};

const Platform* g_platform;

BOOL WINAPI FakeIsWow64Process(HANDLE process, PBOOL wow64) {
  EXPECT_EQ(GetCurrentProcess(), process);
  *wow64 = g_platform->wow64;
  return TRUE;
}

BOOL WINAPI FakeIsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
  EXPECT_EQ(GetCurrentProcess(), process);
  const int machine = g_platform->machine;
  // A 32-bit process on 32-bit Windows runs under no emulation.
  *processMachine =
      machine == IMAGE_FILE_MACHINE_I386 ? IMAGE_FILE_MACHINE_UNKNOWN : IMAGE_FILE_MACHINE_I386;
  *nativeMachine = machine == kFails ? IMAGE_FILE_MACHINE_ARM64 : machine;
  return machine != kFails;
}

HRESULT WINAPI FakeGetMachineTypeAttributes(USHORT machine, MACHINE_ATTRIBUTES* attributes) {
  // Asked about another machine, it says what ARM64 Windows says of x86
  // and of ARM64 programs.
  const int amd64 = g_platform->amd64;
  *attributes = static_cast<MACHINE_ATTRIBUTES>(
      machine == IMAGE_FILE_MACHINE_AMD64 && amd64 != kFails ? amd64 : UserEnabled);
  return amd64 == kFails ? E_FAIL : S_OK;
}

FARPROC LookUpFake(const char* name) {
  const std::string routine = name;
  void* found = NULL;
  if (routine == "IsWow64Process")
    found = g_platform->wow64 == kNone ? NULL : reinterpret_cast<void*>(FakeIsWow64Process);
  else if (routine == "IsWow64Process2")
    found = g_platform->machine == kNone ? NULL : reinterpret_cast<void*>(FakeIsWow64Process2);
  else if (routine == "GetMachineTypeAttributes")
    found =
        g_platform->amd64 == kNone ? NULL : reinterpret_cast<void*>(FakeGetMachineTypeAttributes);
  else
    ADD_FAILURE() << "looked up " << routine;
  return reinterpret_cast<FARPROC>(found);
}

const char kUrl32[] = "http://a/32.cab";
const char kUrl64[] = "http://a/64.cab";
const char kUrlArm64[] = "http://a/arm64.cab";
const char kShort[] = "http";

struct Build {
  const char* url32;
  const char* url64;
  const char* urlArm64;
};
const Build kBuilds[] = {{kUrl32, "", ""},
                         {kUrl32, kUrl64, ""},
                         {kUrl32, kUrl64, kUrlArm64},
                         {kUrl32, "", kUrlArm64},
                         {kShort, kUrl64, kShort}};

const Platform kPlatforms[] = {
    {"without IsWow64Process", kNone, kNone, kNone, "3333-"},
    {"Windows 7 x86", FALSE, kNone, kNone, "3333-"},
    {"Windows 7 x64", TRUE, kNone, kNone, "36636"},
    {"Windows 10 x86", FALSE, IMAGE_FILE_MACHINE_I386, kNone, "3333-"},
    {"Windows 10 x64", TRUE, IMAGE_FILE_MACHINE_AMD64, kNone, "36636"},
    {"Windows 11 x64", TRUE, IMAGE_FILE_MACHINE_AMD64, UserEnabled | KernelEnabled, "36636"},
    {"IsWow64Process2 failing on x64", TRUE, kFails, kNone, "36636"},
    {"Windows 10 on ARM64", TRUE, IMAGE_FILE_MACHINE_ARM64, kNone, "33AA-"},
    {"Windows 11 on ARM64", TRUE, IMAGE_FILE_MACHINE_ARM64, UserEnabled, "36AA6"},
    {"ARM64 running no x64 programs", TRUE, IMAGE_FILE_MACHINE_ARM64, 0, "33AA-"},
    {"ARM64, GetMachineTypeAttributes failing", TRUE, IMAGE_FILE_MACHINE_ARM64, kFails, "33AA-"},
};

char Taken(const Build& build, const char* url) {
  return !url                    ? '-'
         : url == build.url32    ? '3'
         : url == build.url64    ? '6'
         : url == build.urlArm64 ? 'A'
                                 : '?';
}

TEST(ChoosePackageUrl, TakesThePackageTheMachineRunsBestAmongThoseTheBuildHas) {
  for (const Platform& platform : kPlatforms) {
    g_platform = &platform;
    std::string taken;
    for (const Build& build : kBuilds)
      taken += Taken(build, ChoosePackageUrl(build.url32, build.url64, build.urlArm64, LookUpFake));
    EXPECT_EQ(platform.taken, taken) << platform.name;
  }
}

// One download as the watch sees it: what has arrived after each second,
// and when the download returns.
struct Download {
  // The bytes received once each of the first waits is over; after the
  // last entry nothing more arrives. kAllReceived: all is in.
  std::vector<DWORD> received;
  // The waits after which the platform's download returns.
  int returnsAfter;
};

const Download* g_download;
int g_waits;

void WINAPI WaitASecond(DWORD milliseconds) {
  EXPECT_EQ(kStallCheckInterval, milliseconds);
  const std::vector<DWORD>& received = g_download->received;
  if (static_cast<size_t>(g_waits) < received.size())
    g_received = received[g_waits];
  if (++g_waits >= g_download->returnsAfter)
    InterlockedCompareExchange(&g_downloadEnd, kDownloadReturned, 0);
}

// How many waits the watch made and whether it gave the download up.
std::string Watch(const Download& download) {
  ResetInstallerState();
  g_download = &download;
  g_waits = 0;
  g_received = 0;
  g_downloadEnd = 0;
  WatchForStall(reinterpret_cast<LPVOID>(WaitASecond));
  WCHAR text[32];
  BYTE errorShown = 0;
  ReadStatus(text, 32, &errorShown);
  const bool abandoned = g_downloadEnd == kDownloadAbandoned;
  EXPECT_EQ(abandoned, errorShown != 0);
  if (abandoned)
    EXPECT_STREQ(L"d:0x800c000b", text);  // INET_E_CONNECTION_TIMEOUT
  return std::to_string(g_waits) + (abandoned ? " given up" : "");
}

const int kStallWaits = static_cast<int>(kStallTimeout / kStallCheckInterval);
const int kNever = 1 << 30;

TEST(WatchForStall, CountsSilenceFromTheLastNewByteOnly) {
  // A server that never answers, one that sends a little and stops, one
  // that repeats the same count (reports without new bytes), and a slow
  // one that delivers just often enough.
  EXPECT_EQ(std::to_string(kStallWaits) + " given up", Watch({{}, kNever}));
  EXPECT_EQ(std::to_string(3 + kStallWaits) + " given up", Watch({{0, 10, 20}, kNever}));
  EXPECT_EQ(std::to_string(1 + kStallWaits) + " given up",
            Watch({std::vector<DWORD>(kStallWaits, 5), kNever}));
  std::vector<DWORD> slow;
  for (DWORD second = 1; second <= 600; ++second)
    slow.push_back(second % kStallWaits ? slow.empty() ? 0 : slow.back() : second);
  EXPECT_EQ("601", Watch({slow, 601}));
}

TEST(WatchForStall, AnArrivedDownloadIsNeverGivenUp) {
  // All in after 5 s, then 70 s of the platform's last copy and a scan;
  // and the same without a length announced (the end of the data).
  EXPECT_EQ("5", Watch({{100, 200, 300, 400, kAllReceived}, 75}));
  // Returned first, arrived or not: the watch ends.
  EXPECT_EQ("2", Watch({{100}, 2}));
}

}  // namespace
