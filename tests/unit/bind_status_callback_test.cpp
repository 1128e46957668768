// The callback object as the URL download sees it: every call goes through
// the IBindStatusCallback interface, never through the record's own table.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "download/bind_status_callback.h"
#include "download/download_to_file.h"

namespace {

std::vector<std::pair<DWORD, DWORD>> g_reports;

void RecordProgress(DWORD progress, DWORD progressMax) {
  g_reports.push_back(std::make_pair(progress, progressMax));
}

class BindStatusCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_reports.clear();
    InitBindStatusCallback(&record_, RecordProgress, &cancel_);
    callback_ = AsBindStatusCallback(&record_);
  }

  volatile BYTE cancel_ = 0;
  BindStatusCallback record_;
  IBindStatusCallback* callback_ = NULL;
};

TEST_F(BindStatusCallbackTest, QueryInterfaceAnswersOnlyItsTwoInterfaces) {
  void* object = NULL;
  EXPECT_EQ(S_OK, callback_->QueryInterface(IID_IUnknown, &object));
  EXPECT_EQ(static_cast<void*>(callback_), object);
  object = NULL;
  EXPECT_EQ(S_OK, callback_->QueryInterface(IID_IBindStatusCallback, &object));
  EXPECT_EQ(static_cast<void*>(callback_), object);
  // Each success took a reference.
  EXPECT_EQ(3, record_.refCount);

  const IID* others[] = {&IID_IBindStatusCallbackEx, &IID_IHttpNegotiate, &IID_IAuthenticate,
                         &IID_IServiceProvider, &IID_IClassFactory};
  for (const IID* other : others) {
    object = callback_;  // must be cleared, not left as it was
    EXPECT_EQ(E_NOINTERFACE, callback_->QueryInterface(*other, &object));
    EXPECT_EQ(NULL, object);
  }
  // An identifier differing from IID_IUnknown in its last byte only.
  IID almostUnknown = IID_IUnknown;
  almostUnknown.Data4[7] ^= 1;
  object = callback_;
  EXPECT_EQ(E_NOINTERFACE, callback_->QueryInterface(almostUnknown, &object));
  EXPECT_EQ(NULL, object);
  EXPECT_EQ(3, record_.refCount);
}

TEST_F(BindStatusCallbackTest, CountsReferencesButNeverFreesItself) {
  EXPECT_EQ(2u, callback_->AddRef());
  EXPECT_EQ(1u, callback_->Release());
  EXPECT_EQ(0u, callback_->Release());
  // Still whole at 0: it lives in its owner's storage.
  EXPECT_EQ(S_OK, callback_->OnProgress(5, 10, BINDSTATUS_DOWNLOADINGDATA, L"x"));
  ASSERT_EQ(1u, g_reports.size());
  EXPECT_EQ(std::make_pair(DWORD(5), DWORD(10)), g_reports[0]);
  EXPECT_EQ(1u, callback_->AddRef());
}

TEST_F(BindStatusCallbackTest, EveryKindOfProgressReportReachesTheSink) {
  std::vector<std::pair<DWORD, DWORD>> expected;
  for (ULONG status = BINDSTATUS_FINDINGRESOURCE; status <= BINDSTATUS_64BIT_PROGRESS; ++status) {
    const DWORD progress = status * 1000;
    const DWORD progressMax = status % 3 == 0 ? 0 : 0xFFFFFFF0u + status % 3;
    EXPECT_EQ(S_OK, callback_->OnProgress(progress, progressMax, status,
                                          status % 2 ? L"http://127.0.0.1/" : NULL))
        << "status " << status;
    expected.push_back(std::make_pair(progress, progressMax));
  }
  EXPECT_EQ(expected, g_reports);
}

TEST_F(BindStatusCallbackTest, CancelFlagAbortsWithoutReachingTheSink) {
  FORMATETC format = {};
  STGMEDIUM medium = {};
  EXPECT_EQ(S_OK, callback_->OnDataAvailable(BSCF_FIRSTDATANOTIFICATION, 10, &format, &medium));
  cancel_ = 1;
  EXPECT_EQ(E_ABORT, callback_->OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, NULL));
  EXPECT_EQ(E_ABORT, callback_->OnDataAvailable(BSCF_INTERMEDIATEDATANOTIFICATION, 20, &format,
                                                &medium));
  EXPECT_TRUE(g_reports.empty());
  // The flag is read at each call, not once.
  cancel_ = 0;
  EXPECT_EQ(S_OK, callback_->OnProgress(3, 4, BINDSTATUS_DOWNLOADINGDATA, NULL));
  EXPECT_EQ(1u, g_reports.size());
}

TEST_F(BindStatusCallbackTest, TellsTheStallWatchWhatArrivedAndWhenAllHas) {
  // The most bytes so far, whatever smaller counts other reports carry;
  // all once the announced length is in, or at the end of the data when
  // none was announced; nothing changes that afterwards.
  struct Report {
    ULONG progress, progressMax, status;
    DWORD received;
  };
  const Report withLength[] = {{0, 0, BINDSTATUS_CONNECTING, 0},
                               {100, 300, BINDSTATUS_BEGINDOWNLOADDATA, 100},
                               {0, 0, BINDSTATUS_MIMETYPEAVAILABLE, 100},
                               {299, 300, BINDSTATUS_DOWNLOADINGDATA, 299},
                               {300, 300, BINDSTATUS_DOWNLOADINGDATA, kAllReceived},
                               {0, 0, BINDSTATUS_CACHEFILENAMEAVAILABLE, kAllReceived}};
  const Report withoutLength[] = {{100, 0, BINDSTATUS_DOWNLOADINGDATA, 100},
                                  {200, 0, BINDSTATUS_DOWNLOADINGDATA, 200},
                                  {200, 0, BINDSTATUS_ENDDOWNLOADDATA, kAllReceived},
                                  {300, 0, BINDSTATUS_DOWNLOADINGDATA, kAllReceived}};
  for (const auto& reports : {std::vector<Report>(std::begin(withLength), std::end(withLength)),
                              std::vector<Report>(std::begin(withoutLength),
                                                  std::end(withoutLength))}) {
    g_received = 0;
    for (const Report& report : reports) {
      callback_->OnProgress(report.progress, report.progressMax, report.status, NULL);
      EXPECT_EQ(report.received, g_received) << report.progress << "/" << report.progressMax;
    }
  }
  g_received = 0;
}

TEST_F(BindStatusCallbackTest, NoPriorityAndThePlatformsBindInfo) {
  LONG priority = 12345;
  EXPECT_EQ(E_NOTIMPL, callback_->GetPriority(&priority));
  EXPECT_EQ(12345, priority);
  // GetBindInfo leaves the platform's defaults alone.
  DWORD flags = 0xA5A5A5A5;
  BINDINFO info;
  memset(&info, 0x5A, sizeof(info));
  BINDINFO before = info;
  EXPECT_EQ(S_OK, callback_->GetBindInfo(&flags, &info));
  EXPECT_EQ(0xA5A5A5A5u, flags);
  EXPECT_EQ(0, memcmp(&before, &info, sizeof(info)));
  EXPECT_TRUE(g_reports.empty());
}

}  // namespace
