// Keeping the user-interface thread answering while it works: a thread
// that has not looked at its queue for 5 s makes Windows call its window
// hung ("Not Responding"), and every program that sends it a message, a
// broadcast of WM_SETTINGCHANGE among them, waits as long.
#pragma once
#include <windows.h>

// Answers the messages sent to this thread now. Posted and input messages
// stay queued for the message loop, so nothing of the installer's own
// course runs inside.
void AnswerSentMessages();
// The same, when 100 ms have passed since the last look; for loops that
// would otherwise keep the thread away from its queue.
void AnswerSentMessagesWhenDue();
