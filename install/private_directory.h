// The extraction directory, created so that only the elevated installer
// can change what it holds: a non-elevated process of the same user, who
// may write anywhere in the temporary directory, must not replace
// Setup.exe or plant a DLL beside it while it runs.
#pragma once
#include <windows.h>

// Full control for SYSTEM and Administrators, inherited by everything
// created inside; nothing inherited from the parent directory.
extern const char kPrivateDirectorySddl[];

// A new security descriptor built from kPrivateDirectorySddl, to be freed
// with LocalFree; NULL on failure.
PSECURITY_DESCRIPTOR NewPrivateDirectorySecurity();
// Creates `directory` + `prefix` + tick count with that descriptor into
// `out` (kPathCapacity bytes). A name that exists, whatever it is, is
// never used: the next free one is taken. false when nothing could be
// created.
bool CreatePrivateDirectory(const char* directory, const char* prefix, char* out);
