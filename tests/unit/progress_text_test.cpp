#include <gtest/gtest.h>

#include "progress/progress_text.h"
#include "shell/state.h"
#include "shell/status.h"
#include "test_support.h"

namespace {

std::wstring Roman(int value, int capacity = 64) {
  WCHAR out[4096];
  out[0] = L'?';
  FormatRoman(value, out, capacity);
  return out;
}

std::wstring Status() {
  WCHAR text[kStatusTextCapacity];
  ReadStatus(text, kStatusTextCapacity, NULL);
  return text;
}

TEST(FormatRoman, SubtractiveNotation) {
  const struct {
    int value;
    const wchar_t* text;
  } cases[] = {{1, L"I"},     {3, L"III"},   {4, L"IV"},    {9, L"IX"},     {14, L"XIV"},
               {40, L"XL"},   {42, L"XLII"}, {49, L"XLIX"}, {90, L"XC"},    {99, L"XCIX"},
               {100, L"C"},   {400, L"CD"},  {944, L"CMXLIV"}, {1994, L"MCMXCIV"},
               {3999, L"MMMCMXCIX"}};
  for (const auto& c : cases)
    EXPECT_EQ(c.text, Roman(c.value)) << c.value;
}

TEST(FormatRoman, ThousandsBeyond3999AndValuesBelowOne) {
  EXPECT_EQ(L"MMMM", Roman(4000));
  EXPECT_EQ(L"MMMMM", Roman(5000));
  EXPECT_EQ(L"MMMMMMMMI", Roman(8001));
  EXPECT_EQ(L"MMMMMMMMMMMMCMXCIX", Roman(12999));
  EXPECT_EQ(L"", Roman(0));
  EXPECT_EQ(L"", Roman(-5));
}

TEST(FormatRoman, NeverWritesPastItsCapacity) {
  WCHAR out[8];
  for (WCHAR& c : out)
    c = L'#';
  FormatRoman(3888, out, 5);  // MMMDCCCLXXXVIII
  EXPECT_STREQ(L"MMMD", out);
  EXPECT_EQ(L'#', out[5]);
  // A huge value fills the status buffer exactly to its last code unit.
  static WCHAR big[kStatusTextCapacity + 1];
  big[kStatusTextCapacity] = L'#';
  FormatRoman(0x7FFFFFFF, big, kStatusTextCapacity);
  EXPECT_EQ(kStatusTextCapacity - 1, lstrlenW(big));
  EXPECT_EQ(L'#', big[kStatusTextCapacity]);
}

class ProgressText : public ::testing::Test {
 protected:
  void SetUp() override { ResetInstallerState(); }
};

TEST_F(ProgressText, UnknownSizeGrowsDotsFromTheInitialDot) {
  EXPECT_EQ(L".", Status());
  OnDownloadProgress(0, 0);
  EXPECT_EQ(L"..", Status());
  OnDownloadProgress(5000, 0);
  EXPECT_EQ(L"...", Status());
  EXPECT_EQ(5000u, g_progress);
  EXPECT_EQ(0u, g_progressMax);
}

TEST_F(ProgressText, PercentageAsDashThenRomanNumerals) {
  OnDownloadProgress(0, 300);
  EXPECT_EQ(L"-", Status());
  OnDownloadProgress(1, 300);
  EXPECT_EQ(L"-", Status());
  OnDownloadProgress(3, 300);
  EXPECT_EQ(L"I", Status());
  OnDownloadProgress(126, 300);
  EXPECT_EQ(L"XLII", Status());
  EXPECT_EQ(126u, g_progress);
  EXPECT_EQ(300u, g_progressMax);
  // A report without a size after a percentage appends a dot to it.
  OnDownloadProgress(130, 0);
  EXPECT_EQ(L"XLII.", Status());
  OnDownloadProgress(300, 300);
  EXPECT_EQ(L"C", Status());
}

TEST_F(ProgressText, LargeDownloadsDoNotWrapAt32Bits) {
  // 4 GB - 1 in all, 99 % done: progress * 100 needs more than 32 bits.
  const DWORD total = 0xFFFFFFFFu;
  OnDownloadProgress(total / 100 * 99 + 100, total);
  EXPECT_EQ(L"XCIX", Status());
  OnDownloadProgress(50000000u, 100000000u);
  EXPECT_EQ(L"L", Status());
}

TEST_F(ProgressText, ProgressBeyondItsMaximum) {
  OnDownloadProgress(500, 100);
  EXPECT_EQ(L"D", Status());
  // A percentage too large for a signed 32-bit value shows nothing.
  OnDownloadProgress(0xFFFFFFFFu, 1);
  EXPECT_EQ(L"", Status());
}

TEST_F(ProgressText, DotsStopAtTheBufferCapacity) {
  for (int i = 0; i < kStatusTextCapacity + 50; ++i)
    OnDownloadProgress(static_cast<DWORD>(i), 0);
  const std::wstring text = Status();
  EXPECT_EQ(static_cast<size_t>(kStatusTextCapacity - 1), text.size());
  EXPECT_EQ(std::wstring(kStatusTextCapacity - 1, L'.'), text);
}

TEST_F(ProgressText, ErrorDisplayIsKeptWhenProgressArrives) {
  ShowStatusMessage(L"!");
  OnDownloadProgress(50, 100);
  BYTE errorShown = 0;
  WCHAR text[16];
  ReadStatus(text, 16, &errorShown);
  EXPECT_EQ(1, errorShown);
}

TEST_F(ProgressText, NothingChangesOnceTheWindowIsClosed) {
  OnDownloadProgress(10, 100);
  g_windowClosed = 1;
  OnDownloadProgress(90, 100);
  EXPECT_EQ(L"X", Status());
  EXPECT_EQ(10u, g_progress);
}

}  // namespace
