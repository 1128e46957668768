// The error display: the only way a failure is ever reported.
#pragma once
#include <windows.h>

// Status tags naming a failure.
#define STATUS_TAG_TEMP_DIR L"t"
#define STATUS_TAG_DOWNLOAD L"d"
#define STATUS_TAG_POST L"@"
#define STATUS_TAG_NO_ADDRESS L"!"
#define STATUS_TAG_EXTRACT L"#"
#define STATUS_TAG_LAUNCH L"l"
#define STATUS_TAG_TRUST L"s"

// Enters (or refreshes) the red error display with `text`. Either thread.
void ShowStatusMessage(const WCHAR* text);
// The same with "tag:0x%08lx".
void ShowStatusError(const WCHAR* tag, DWORD code);
