// The choice of package, each system's answers given in place of its
// routines, for builds with and without each package.
#include <gtest/gtest.h>

#include <string>

#include "download/download_worker.h"

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

}  // namespace
