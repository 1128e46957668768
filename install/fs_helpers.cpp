#include "install/fs_helpers.h"

#include "shell/state.h"
#include "shell/text.h"

namespace {

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool JoinPath(const char* first, const char* second, char* out) {
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

const char* FindLastChar(const char* text, char character) {
  for (const char* p = text + TextLength(text); p > text;) {
    if (*--p == character)
      return p;
  }
  return NULL;
}

bool CreateDirectoryChain(const char* path, int keep) {
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
    if (p - buffer > keep) {
      *p = 0;
      const DWORD attributes = GetFileAttributesA(buffer);
      // A link on the way could lead the rest of the chain anywhere.
      if (attributes == INVALID_FILE_ATTRIBUTES ? !CreateDirectoryA(buffer, NULL)
                                                : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return true;
      *p = c;
    }
    if (!c)
      return false;
  }
}

BYTE EnsureParentDirectory(const char* filePath, int keep) {
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
    return length > keep && !CreateDirectoryChain(directory, keep) ? 0 : 1;
  return IsDirectory(attributes) ? 0 : 1;
}

bool MakeUniqueTempName(const char* directory, const char* prefix, char* out) {
  char base[kPathCapacity];
  char name[1024];  // wsprintfA never writes more
  if (JoinPath(directory, prefix, base)) {
    do {
      wsprintfA(name, "%s%d", base, static_cast<int>(GetTickCount()));
      if (TextLength(name) >= kPathCapacity)
        break;
      if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) {
        CopyText(out, name);
        return true;
      }
    } while (true);
  }
  out[0] = 0;
  return false;
}

int DeleteTree(const char* directory, bool recurse) {
  // A root that is a link is left alone with all it leads to.
  const DWORD attributes = GetFileAttributesA(directory);
  if (!IsDirectory(attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
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
