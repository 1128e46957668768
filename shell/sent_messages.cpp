#include "shell/sent_messages.h"

namespace {

// Well below the 5 s after which Windows calls a window hung, and rare
// enough to cost nothing next to the work between looks.
const DWORD kAnswerInterval = 100;

DWORD g_lastAnswered;

}  // namespace

void AnswerSentMessages() {
  MSG msg;
  PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  g_lastAnswered = GetTickCount();
}

void AnswerSentMessagesWhenDue() {
  if (GetTickCount() - g_lastAnswered >= kAnswerInterval)
    AnswerSentMessages();
}
