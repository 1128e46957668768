#include <gtest/gtest.h>
#include <oleacc.h>

#include <string>

#include "progress/progress_text.h"
#include "shell/accessible.h"
#include "shell/state.h"
#include "shell/status.h"
#include "test_support.h"

namespace {

std::wstring Take(BSTR text) {
  std::wstring taken = text ? text : L"(none)";
  SysFreeString(text);
  return taken;
}

// The object the window procedure hands out, as a client in the same
// apartment gets it, beside the platform's own for the same window: what
// the installer does not answer itself must come from the platform's.
TEST(AccessibleObject, AnswersRoleValueAndNamePassingTheRestThrough) {
  ResetInstallerState();
  CoInitialize(NULL);
  const HWND hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 40, 50, 384, 96, NULL,
                                    NULL, GetModuleHandleA(NULL), NULL);
  ASSERT_TRUE(hwnd);
  g_mainWnd = hwnd;
  const LRESULT answer = AnswerAccessibleObject(hwnd, 0);
  ASSERT_GT(answer, 0);
  IAccessible* ours = NULL;
  ASSERT_EQ(S_OK, ObjectFromLresult(answer, IID_IAccessible, 0, reinterpret_cast<void**>(&ours)));
  IAccessible* standard = NULL;
  ASSERT_EQ(S_OK, CreateStdAccessibleObject(hwnd, OBJID_CLIENT, IID_IAccessible,
                                            reinterpret_cast<void**>(&standard)));
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;

  // Passed through: the stubs keep every argument, the child by value
  // among them, and the answers.
  long place[4], expected[4];
  ASSERT_EQ(S_OK, ours->accLocation(&place[0], &place[1], &place[2], &place[3], self));
  ASSERT_EQ(S_OK, standard->accLocation(&expected[0], &expected[1], &expected[2], &expected[3],
                                        self));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(expected[i], place[i]) << i;
  EXPECT_EQ(384, place[2]);
  VARIANT state, expectedState;
  ASSERT_EQ(S_OK, ours->get_accState(self, &state));
  ASSERT_EQ(S_OK, standard->get_accState(self, &expectedState));
  EXPECT_EQ(VT_I4, state.vt);
  EXPECT_EQ(expectedState.lVal, state.lVal);
  long children = -1;
  EXPECT_EQ(S_OK, ours->get_accChildCount(&children));
  EXPECT_EQ(0, children);

  // Answered here.
  VARIANT role;
  ASSERT_EQ(S_OK, ours->get_accRole(self, &role));
  EXPECT_EQ(VT_I4, role.vt);
  EXPECT_EQ(ROLE_SYSTEM_PROGRESSBAR, role.lVal);
  BSTR text = NULL;
  EXPECT_EQ(S_OK, ours->get_accValue(self, &text));
  EXPECT_EQ(L"Downloading", Take(text));
  OnDownloadProgress(450, 1000);
  EXPECT_EQ(S_OK, ours->get_accValue(self, &text));
  EXPECT_EQ(L"45%", Take(text));
  EXPECT_EQ(S_OK, ours->get_accName(self, &text));
  EXPECT_EQ(L"Install Zelvio Viewer", Take(text));
  ShowStatusError(STATUS_TAG_DOWNLOAD, 0x800C0005);
  EXPECT_EQ(S_OK, ours->get_accValue(self, &text));
  EXPECT_EQ(L"Failed: d:0x800c0005", Take(text));
  EXPECT_EQ(S_OK, ours->get_accName(self, &text));
  EXPECT_EQ(L"Install Zelvio Viewer. Failed: d:0x800c0005", Take(text));

  // Only what its table holds.
  IUnknown* other = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(S_OK, ours->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&other)));
  EXPECT_EQ(static_cast<IUnknown*>(ours), other);
  EXPECT_EQ(E_NOINTERFACE, ours->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&other)));
  EXPECT_EQ(NULL, other);

  standard->Release();
  ours->Release();
  DestroyWindow(hwnd);
  ResetInstallerState();
}

}  // namespace
