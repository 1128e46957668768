#include "install/private_directory.h"

#include <sddl.h>

#include "install/fs_helpers.h"
#include "shell/state.h"

const char kPrivateDirectorySddl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

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
  // Made under the UTF-16 form of its name, which the narrow calls would
  // make of it too, and by which it is then held.
  WCHAR wide[kPathCapacity];
  // Creating, never opening: a name someone placed between the choice and
  // the creation fails with ERROR_ALREADY_EXISTS, and another is chosen,
  // for as long as a search for a free name goes on.
  const DWORD start = GetTickCount();
  while (MakeUniqueTempName(parent, prefix, out)) {
    created = WidenPath(out, wide) && CreateDirectoryW(wide, &attributes) != FALSE;
    if (created || GetLastError() != ERROR_ALREADY_EXISTS ||
        GetTickCount() - start >= kNameSearchTicks)
      break;
  }
  const DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  // Listing access, so that the share mode is enforced (a handle with
  // attribute access only restricts nobody); no delete access of its own,
  // so that others, such as a child process taking it as its current
  // directory, may still open it without sharing delete.
  HANDLE held = created ? HoldDirectory(wide) : NULL;
  if (!held) {
    // A directory swapped for another meanwhile is left as found.
    if (!created)
      SetLastError(error);
    out[0] = 0;
  }
  return held;
}

void DeleteHeldDirectory(const char* directory, HANDLE held) {
  // Every name the installer makes has its UTF-16 form.
  WCHAR wide[kPathCapacity];
  const bool named = WidenPath(directory, wide);
  // The tree's own removal of its root fails while it is held.
  if (named)
    DeleteTree(wide, true);
  CloseHandle(held);
  // Whatever something else still holds goes at the next restart.
  if (named && !RemoveDirectoryW(wide))
    DeleteTree(wide, true, true);
}
