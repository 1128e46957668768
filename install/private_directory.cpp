#include "install/private_directory.h"

#include <sddl.h>

#include "install/fs_helpers.h"

const char kPrivateDirectorySddl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

namespace {

// Listing access, so that the share mode is enforced (a handle with
// attribute access only restricts nobody); no delete access of its own, so
// that others, such as a child process taking it as its current directory,
// may still open it without sharing delete.
HANDLE HoldDirectory(const char* directory) {
  HANDLE held = CreateFileA(directory, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
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

}  // namespace

PSECURITY_DESCRIPTOR NewPrivateDirectorySecurity() {
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kPrivateDirectorySddl, SDDL_REVISION_1,
                                                            &descriptor, NULL))
    return NULL;
  return descriptor;
}

HANDLE CreatePrivateDirectory(const char* parent, const char* prefix, char* out) {
  out[0] = 0;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NewPrivateDirectorySecurity(), FALSE};
  if (!attributes.lpSecurityDescriptor)
    return NULL;
  bool created = false;
  // Creating, never opening: a name someone placed between the choice and
  // the creation fails with ERROR_ALREADY_EXISTS, and another is chosen.
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  while (MakeUniqueTempName(parent, prefix, out)) {
    created = CreateDirectoryA(out, &attributes) != FALSE;
    if (created || GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  const DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  HANDLE held = created ? HoldDirectory(out) : NULL;
  if (!held) {
    // A directory swapped for another meanwhile is left as found.
    if (!created)
      SetLastError(error);
    out[0] = 0;
  }
  return held;
}

void DeleteHeldDirectory(const char* directory, HANDLE held) {
  // The tree's own removal of its root fails while it is held.
  DeleteTree(directory, true);
  CloseHandle(held);
  RemoveDirectoryA(directory);
}
