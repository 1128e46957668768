#include "install/fs_helpers.h"

#include "shell/sent_messages.h"
#include "shell/state.h"
#include "shell/text.h"

namespace {

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// What cannot go now (held by a process that is still running, or by a
// scanner) goes at the next restart, a directory after what it holds.
void DeleteLater(const WCHAR* path, bool schedule) {
  if (schedule)
    MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

int DeleteTree(const WCHAR* directory, bool recurse, bool schedule) {
  // Checked and listed through one handle that keeps the name from being
  // renamed or replaced meanwhile: a root that is a link is left alone
  // with all it leads to. Checked by name first as well: Wine's handle
  // leads through a Unix symbolic link, which only its attributes show.
  const DWORD attributes = GetFileAttributesW(directory);
  HANDLE held = IsDirectory(attributes) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                    ? HoldDirectory(directory)
                    : NULL;
  WCHAR pattern[kPathCapacity];
  if (!held || !JoinPath(directory, L"*", pattern)) {
    if (held)
      CloseHandle(held);
    return 0;
  }
  int count = 0;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(pattern, &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      // Thousands of files take seconds; the window keeps answering.
      AnswerSentMessagesWhenDue();
      const WCHAR* name = entry.cFileName;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
        continue;
      WCHAR full[kPathCapacity];
      if (!JoinPath(directory, name, full))
        continue;
      const DWORD attributes = entry.dwFileAttributes;
      const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      // Read-only, hidden and system cleared on directories too: a
      // read-only one cannot be removed.
      SetFileAttributesW(full, FILE_ATTRIBUTE_NORMAL);
      if (!isLink && isDirectory && recurse) {
        count += DeleteTree(full, true, schedule);
        continue;
      }
      // A junction or symbolic link is removed as a link, never followed:
      // nothing beneath an elevated walk may be redirected elsewhere.
      if (isLink && isDirectory ? RemoveDirectoryW(full) : DeleteFileW(full))
        count += !isDirectory;
      else
        DeleteLater(full, schedule);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  CloseHandle(held);
  if (!RemoveDirectoryW(directory))
    DeleteLater(directory, schedule);
  return count;
}

HANDLE HoldDirectory(const WCHAR* directory) {
  HANDLE held = CreateFileW(directory, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (held == INVALID_HANDLE_VALUE)
    return NULL;
  // What the handle leads to, not what the name did a moment ago.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(held, &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
          FILE_ATTRIBUTE_DIRECTORY)
    return held;
  CloseHandle(held);
  SetLastError(ERROR_BAD_PATHNAME);
  return NULL;
}

template <typename Char>
bool JoinPath(const Char* first, const Char* second, Char* out) {
  int length = TextLength(first);
  if (length + 1 + TextLength(second) >= kPathCapacity)
    return false;
  CopyText(out, first);
  // A directory written with its trailing backslash gets no second one.
  if (!length || first[length - 1] != '\\')
    out[length++] = '\\';
  CopyText(out + length, second);
  return true;
}
template bool JoinPath(const char*, const char*, char*);
template bool JoinPath(const WCHAR*, const WCHAR*, WCHAR*);

bool WidenPath(const char* path, WCHAR* out) {
  return MultiByteToWideChar(CP_ACP, 0, path, -1, out, kPathCapacity) != 0;
}

const WCHAR* FindLastChar(const WCHAR* text, WCHAR character) {
  for (const WCHAR* p = text + TextLength(text); p > text;) {
    if (*--p == character)
      return p;
  }
  return NULL;
}

bool CreateDirectoryChain(const WCHAR* path, int keep) {
  if (TextLength(path) >= kPathCapacity)
    return true;
  WCHAR buffer[kPathCapacity];
  CopyText(buffer, path);
  for (WCHAR* p = buffer; *p; ++p) {
    if (*p == '/')
      *p = '\\';
  }
  for (WCHAR* p = buffer;; ++p) {
    const WCHAR c = *p;
    if (c != '\\' && c != 0)
      continue;
    if (p - buffer > keep) {
      *p = 0;
      const DWORD attributes = GetFileAttributesW(buffer);
      // A link on the way could lead the rest of the chain anywhere.
      if (attributes == INVALID_FILE_ATTRIBUTES ? !CreateDirectoryW(buffer, NULL)
                                                : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return true;
      *p = c;
    }
    if (!c)
      return false;
  }
}

BYTE EnsureParentDirectory(const WCHAR* filePath, int keep) {
  const WCHAR* slash = FindLastChar(filePath, '/');
  const WCHAR* backslash = FindLastChar(filePath, '\\');
  const WCHAR* separator = slash > backslash ? slash : backslash;
  if (!separator || separator == filePath)
    return 1;
  const int length = static_cast<int>(separator - filePath);
  if (length >= kPathCapacity)
    return 1;
  WCHAR directory[kPathCapacity];
  CopyText(directory, filePath, length + 1);
  const DWORD attributes = GetFileAttributesW(directory);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return length > keep && !CreateDirectoryChain(directory, keep) ? 0 : 1;
  return IsDirectory(attributes) ? 0 : 1;
}

bool MakeUniqueTempName(const char* directory, const char* prefix, char* out) {
  char base[kPathCapacity];
  char name[1024];  // wsprintfA never writes more
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  if (JoinPath(directory, prefix, base)) {
    // Names are predictable: another process may have taken every one a
    // while ahead. The search gives up rather than spin for as long.
    const DWORD start = GetTickCount();
    do {
      wsprintfA(name, "%s%d", base, static_cast<int>(GetTickCount()));
      if (TextLength(name) >= kPathCapacity)
        break;
      if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) {
        CopyText(out, name);
        return true;
      }
      SetLastError(ERROR_ALREADY_EXISTS);
    } while (GetTickCount() - start < kNameSearchTicks);
  }
  out[0] = 0;
  return false;
}

int DeleteTree(const char* directory, bool recurse) {
  // The walk is wide: Setup may leave names outside the ANSI code page,
  // which a narrow listing shows with "?" and no narrow call can delete.
  WCHAR wide[kPathCapacity];
  return WidenPath(directory, wide) ? DeleteTree(wide, recurse) : 0;
}
