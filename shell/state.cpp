#include "shell/state.h"

namespace {

// Left zero-filled, SRWLOCK_INIT included: an initialiser would store all
// 8 KiB of it in the file. RunInstaller writes the first "." itself.
SharedState g_shared;

}  // namespace

HINSTANCE g_instance;

SharedState* GetSharedState() {
  return &g_shared;
}

void LockStatus() {
  AcquireSRWLockExclusive(&g_statusLock);
}

void UnlockStatus() {
  ReleaseSRWLockExclusive(&g_statusLock);
}

HANDLE TakeCabinetFile() {
  return InterlockedExchangePointer(&g_cabinetFile, NULL);
}
