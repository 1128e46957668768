#include "install/fs_helpers.h"

#include "shell/state.h"
#include "shell/text.h"

namespace {

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool JoinPath(const char* first, const char* second, char* out) {
  const int length = TextLength(first);
  if (length + 1 + TextLength(second) >= kPathCapacity)
    return false;
  CopyText(out, first);
  out[length] = '\\';
  CopyText(out + length + 1, second);
  return true;
}

const char* FindLastChar(const char* text, char character) {
  for (const char* p = text + TextLength(text); p > text;) {
    if (*--p == character)
      return p;
  }
  return NULL;
}

bool CreateDirectoryChain(const char* path) {
  if (TextLength(path) >= kPathCapacity)
    return true;
  char buffer[kPathCapacity];
  CopyText(buffer, path);
  for (char* p = buffer; *p; ++p) {
    if (*p == '/')
      *p = '\\';
  }
  for (char* p = buffer;; ++p) {
    const char c = *p;
    if (c != '\\' && c != 0)
      continue;
    *p = 0;
    if (buffer[0] && GetFileAttributesA(buffer) == INVALID_FILE_ATTRIBUTES &&
        !CreateDirectoryA(buffer, NULL))
      return true;
    *p = c;
    if (!c)
      return false;
  }
}

BYTE EnsureParentDirectory(const char* filePath) {
  const char* slash = FindLastChar(filePath, '/');
  const char* backslash = FindLastChar(filePath, '\\');
  const char* separator = slash > backslash ? slash : backslash;
  if (!separator || separator == filePath)
    return 1;
  const int length = static_cast<int>(separator - filePath);
  if (length >= kPathCapacity)
    return 1;
  char directory[kPathCapacity];
  CopyText(directory, filePath, length + 1);
  const DWORD attributes = GetFileAttributesA(directory);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return CreateDirectoryChain(directory) ? 1 : 0;
  return IsDirectory(attributes) ? 0 : 1;
}

bool MakeUniqueTempName(const char* directory, const char* prefix, char* out) {
  char name[1024];  // wsprintfA never writes more
  do {
    wsprintfA(name, "%s%s%d", directory, prefix, static_cast<int>(GetTickCount()));
    if (TextLength(name) >= kPathCapacity) {
      out[0] = 0;
      return false;
    }
  } while (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES);
  CopyText(out, name);
  return true;
}

int DeleteTree(const char* directory, bool recurse) {
  if (!IsDirectory(GetFileAttributesA(directory)))
    return 0;
  char pattern[kPathCapacity];
  if (!JoinPath(directory, "*", pattern))
    return 0;
  int count = 0;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA(pattern, &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const char* name = entry.cFileName;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
        continue;
      char full[kPathCapacity];
      if (!JoinPath(directory, name, full))
        continue;
      const DWORD attributes = entry.dwFileAttributes;
      const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (!isLink && isDirectory && recurse) {
        count += DeleteTree(full, true);
        continue;
      }
      // A junction or symbolic link is removed as a link, never followed:
      // nothing beneath an elevated walk may be redirected elsewhere.
      SetFileAttributesA(full, FILE_ATTRIBUTE_NORMAL);
      if (isLink && isDirectory)
        RemoveDirectoryA(full);
      else if (DeleteFileA(full))
        ++count;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(directory);
  return count;
}
