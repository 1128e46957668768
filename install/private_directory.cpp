#include "install/private_directory.h"

#include <sddl.h>

#include "install/fs_helpers.h"

const char kPrivateDirectorySddl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

PSECURITY_DESCRIPTOR NewPrivateDirectorySecurity() {
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kPrivateDirectorySddl, SDDL_REVISION_1,
                                                            &descriptor, NULL))
    return NULL;
  return descriptor;
}

bool CreatePrivateDirectory(const char* directory, const char* prefix, char* out) {
  out[0] = 0;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NewPrivateDirectorySecurity(), FALSE};
  if (!attributes.lpSecurityDescriptor)
    return false;
  bool created = false;
  // Creating, never opening: a name someone placed between the choice and
  // the creation fails with ERROR_ALREADY_EXISTS, and another is chosen.
  while (MakeUniqueTempName(directory, prefix, out)) {
    created = CreateDirectoryA(out, &attributes) != FALSE;
    if (created || GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  LocalFree(attributes.lpSecurityDescriptor);
  if (!created)
    out[0] = 0;
  return created;
}
