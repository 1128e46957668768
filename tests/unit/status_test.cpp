#include <gtest/gtest.h>

#include "shell/state.h"
#include "shell/status.h"
#include "test_support.h"

namespace {

class StatusMessages : public ::testing::Test {
 protected:
  void SetUp() override { ResetInstallerState(); }
  std::wstring Text(BYTE* errorShown = NULL) {
    WCHAR text[kStatusTextCapacity];
    ReadStatus(text, kStatusTextCapacity, errorShown);
    return text;
  }
};

TEST_F(StatusMessages, StartsAsASingleDotOutsideTheErrorDisplay) {
  BYTE errorShown = 9;
  EXPECT_EQ(L".", Text(&errorShown));
  EXPECT_EQ(0, errorShown);
}

TEST_F(StatusMessages, CodesAreEightLowerCaseHexDigitsNeverSigned) {
  ShowStatusError(STATUS_TAG_DOWNLOAD, 0x800C0005);
  BYTE errorShown = 0;
  EXPECT_EQ(L"d:0x800c0005", Text(&errorShown));
  EXPECT_EQ(1, errorShown);
  ShowStatusError(STATUS_TAG_LAUNCH, 2);
  EXPECT_EQ(L"l:0x00000002", Text());
  ShowStatusError(STATUS_TAG_TEMP_DIR, 0xFFFFFFFF);
  EXPECT_EQ(L"t:0xffffffff", Text());
}

TEST_F(StatusMessages, SecondMessageReplacesTheFirstAndStaysInErrorDisplay) {
  ShowStatusMessage(STATUS_TAG_NO_ADDRESS);
  ShowStatusMessage(STATUS_TAG_EXTRACT);
  BYTE errorShown = 0;
  EXPECT_EQ(L"#", Text(&errorShown));
  EXPECT_EQ(1, errorShown);
}

TEST_F(StatusMessages, OverlongTextIsCutAtTheBuffer) {
  static WCHAR longText[kStatusTextCapacity + 100];
  for (int i = 0; i < kStatusTextCapacity + 99; ++i)
    longText[i] = L'x';
  longText[kStatusTextCapacity + 99] = 0;
  ShowStatusMessage(longText);
  EXPECT_EQ(static_cast<size_t>(kStatusTextCapacity - 1), Text().size());
}

TEST_F(StatusMessages, IgnoredOnceTheWindowIsClosed) {
  g_windowClosed = 1;
  ShowStatusError(STATUS_TAG_DOWNLOAD, 0x80004004);
  BYTE errorShown = 9;
  EXPECT_EQ(L".", Text(&errorShown));
  EXPECT_EQ(0, errorShown);
}

}  // namespace
