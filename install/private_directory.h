// The installer's directories: created so that only the elevated installer
// can change what they hold, and held open so that nobody can rename or
// delete them (and so redirect what is written or run inside) while the
// installer works in them.
#pragma once
#include <windows.h>

// Full control for SYSTEM and Administrators, inherited by everything
// created inside; nothing inherited from the parent directory.
extern const char kPrivateDirectorySddl[];

// A new security descriptor built from kPrivateDirectorySddl, to be freed
// with LocalFree; NULL on failure.
PSECURITY_DESCRIPTOR NewPrivateDirectorySecurity();
// Creates `parent` + `prefix` + tick count (as MakeUniqueTempName) with
// that descriptor, its path in `out` (kPathCapacity bytes). A name that
// exists, whatever it is, is never used: the next free one is taken. The
// directory is opened without delete sharing and checked, through that
// handle, to be a directory and no link. Returns the handle, which keeps
// it from being renamed or deleted until DeleteHeldDirectory; NULL with
// the last error set when nothing could be created and held.
HANDLE CreatePrivateDirectory(const char* parent, const char* prefix, char* out);
// Deletes what `directory`, held by `held`, contains, lets go of it and
// removes it; what something else still holds is scheduled for deletion
// at the next restart.
void DeleteHeldDirectory(const char* directory, HANDLE held);
