// Small file-system routines on narrow paths shared by the download and
// the install step.
#pragma once
#include <windows.h>

// The last occurrence of `character` (never NUL) in `text`, or NULL.
const char* FindLastChar(const char* text, char character);
// Creates every missing directory along `path` (slashes count as
// backslashes) that is longer than its first `keep` characters: those
// name a directory that is neither checked nor ever created. false when
// all exist or were created, true on failure or when one is a link.
bool CreateDirectoryChain(const char* path, int keep = 0);
// 0 when the directory part of `filePath` exists as a directory or was
// created (never within its first `keep` characters), 1 otherwise.
BYTE EnsureParentDirectory(const char* filePath, int keep = 0);
// Writes to `out` (kPathCapacity bytes) `directory` + `prefix` + the tick
// count, with a backslash after `directory` unless it ends with one, for a
// name that does not exist at the moment of the test. false, with `out`
// empty, when the name would not fit.
bool MakeUniqueTempName(const char* directory, const char* prefix, char* out);
// `first` + "\\" + `second` into `out` (kPathCapacity bytes), with no
// second backslash after one that ends `first`; false when it would not
// fit.
bool JoinPath(const char* first, const char* second, char* out);
// Deletes `directory` and everything in it; links inside are removed, never
// followed, and a root that is a link is left alone. Returns the number of
// files deleted.
int DeleteTree(const char* directory, bool recurse);
