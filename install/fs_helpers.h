// Small file-system routines shared by the download and the install step.
// The paths the installer makes itself are narrow; everything beneath the
// extraction directory, whose names come from the package or from Setup,
// is UTF-16, so that any name can be made and deleted.
#pragma once
#include <windows.h>

// The last occurrence of `character` (never NUL) in `text`, or NULL.
const WCHAR* FindLastChar(const WCHAR* text, WCHAR character);
// Creates every missing directory along `path` (slashes count as
// backslashes) that is longer than its first `keep` characters: those
// name a directory that is neither checked nor ever created. false when
// all exist or were created, true on failure or when one is a link.
bool CreateDirectoryChain(const WCHAR* path, int keep = 0);
// 0 when the directory part of `filePath` exists as a directory or was
// created (never within its first `keep` characters), 1 otherwise.
BYTE EnsureParentDirectory(const WCHAR* filePath, int keep = 0);
// How long a search for a free name goes on, in milliseconds of ticks.
const DWORD kNameSearchTicks = 1000;
// Writes to `out` (kPathCapacity bytes) `directory` + `prefix` + the tick
// count, with a backslash after `directory` unless it ends with one, for a
// name that does not exist at the moment of the test. false, with `out`
// empty, when the name would not fit (ERROR_FILENAME_EXCED_RANGE) or none
// was free for kNameSearchTicks (ERROR_ALREADY_EXISTS).
bool MakeUniqueTempName(const char* directory, const char* prefix, char* out);
// `first` + "\\" + `second` into `out` (kPathCapacity units), with no
// second backslash after one that ends `first`; false when it would not
// fit.
template <typename Char>
bool JoinPath(const Char* first, const Char* second, Char* out);
// A narrow path as UTF-16 (kPathCapacity units), read in the ANSI code
// page as the narrow file calls read it; false when it does not fit.
bool WidenPath(const char* path, WCHAR* out);
// `directory` opened for listing without delete sharing, so that nobody
// can rename or remove it while the handle is held, when the handle leads
// to a directory and no link; NULL otherwise (ERROR_BAD_PATHNAME for a
// link or a file).
HANDLE HoldDirectory(const WCHAR* directory);
// Deletes `directory` and everything in it, whatever the names; links
// inside are removed, never followed, and a root that is a link is left
// alone. Each directory is checked and listed through a handle held
// meanwhile. With `schedule`, what still cannot be deleted (something
// holds it) is scheduled for deletion at the next restart, each directory
// after its contents. Returns the number of files deleted.
int DeleteTree(const WCHAR* directory, bool recurse, bool schedule = false);
// The same for a narrow path, read as the narrow file calls read it.
int DeleteTree(const char* directory, bool recurse);
