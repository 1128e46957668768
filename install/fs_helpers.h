// Small file-system routines on narrow paths shared by the download and
// the install step.
#pragma once
#include <windows.h>

// The last occurrence of `character` (never NUL) in `text`, or NULL.
const char* FindLastChar(const char* text, char character);
// Creates every missing directory along `path` (slashes count as
// backslashes). false when all exist or were created, true on failure.
bool CreateDirectoryChain(const char* path);
// 0 when the directory part of `filePath` exists as a directory or was
// created, 1 otherwise.
BYTE EnsureParentDirectory(const char* filePath);
// Writes to `out` (kPathCapacity bytes) `directory` + `prefix` + the tick
// count, for a name that does not exist at the moment of the test. false,
// with `out` empty, when the name would not fit.
bool MakeUniqueTempName(const char* directory, const char* prefix, char* out);
// `first` + "\\" + `second` into `out` (kPathCapacity bytes); false when
// it would not fit.
bool JoinPath(const char* first, const char* second, char* out);
// Deletes `directory` and everything in it; links inside are removed, never
// followed. Returns the number of files deleted.
int DeleteTree(const char* directory, bool recurse);
