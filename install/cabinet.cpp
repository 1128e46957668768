#include "install/cabinet.h"

#include "install/fs_helpers.h"
#include "shell/sent_messages.h"
#include "shell/state.h"
#include "shell/system_library.h"
#include "shell/text.h"

namespace {

// Read-only, hidden, system and archive; the cabinet's "run after
// extraction" (0x40) and "name is UTF-8" (0x80) bits are dropped.
const USHORT kAppliedAttributes = 0x27;
const USHORT kNameIsUtf8 = 0x80;

typedef HFDI(DIAMONDAPI* FDICreateFn)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                      PFNSEEK, int, PERF);
typedef BOOL(DIAMONDAPI* FDIIsCabinetFn)(HFDI, INT_PTR, PFDICABINETINFO);
typedef BOOL(DIAMONDAPI* FDICopyFn)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
typedef BOOL(DIAMONDAPI* FDIDestroyFn)(HFDI);

struct FdiRoutines {
  FDICreateFn create;
  FDIIsCabinetFn isCabinet;
  FDICopyFn copy;
  FDIDestroyFn destroy;
};

// cabinet.dll from the system directory only; kept loaded for the
// process's life, like every system DLL the installer uses.
bool LoadFdi(FdiRoutines* fdi) {
  HMODULE cabinet = LoadSystemLibrary("cabinet.dll");
  if (!cabinet)
    return false;
  fdi->create = LookUpRoutine<FDICreateFn>(cabinet, MAKEINTRESOURCEA(20));
  fdi->isCabinet = LookUpRoutine<FDIIsCabinetFn>(cabinet, MAKEINTRESOURCEA(21));
  fdi->copy = LookUpRoutine<FDICopyFn>(cabinet, MAKEINTRESOURCEA(22));
  fdi->destroy = LookUpRoutine<FDIDestroyFn>(cabinet, MAKEINTRESOURCEA(23));
  return fdi->create && fdi->isCabinet && fdi->copy && fdi->destroy;
}

bool IsSeparator(WCHAR c) {
  return c == '\\' || c == '/';
}

// The names inline rather than as pointers: no addresses to relocate.
const char kDeviceNames[][8] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

// A DOS device name (CON, NUL, COM1, LPT1.txt, ...) names the device in
// every directory, whatever follows its first dot: bytes written there
// would leave the destination.
bool IsDeviceName(const WCHAR* component, int length) {
  int stem = 0;
  while (stem < length && component[stem] != '.')
    ++stem;
  while (stem > 0 && component[stem - 1] == ' ')
    --stem;
  if (stem < 3 || stem > 7)
    return false;
  // Device names are ASCII but for the superscript digits of COM and LPT,
  // which are Latin-1: the fourth character is kept as its Latin-1 byte.
  char name[8];
  for (int i = 0; i < stem; ++i) {
    if (component[i] >= (i == 3 ? 0x100 : 0x80))
      return false;
    name[i] = static_cast<char>(component[i]);
  }
  name[stem] = 0;
  for (const char* device : kDeviceNames) {
    if (!lstrcmpiA(name, device))
      return true;
  }
  // COM1-COM9 and LPT1-LPT9; Windows also takes superscript 1, 2 and 3.
  const BYTE digit = static_cast<BYTE>(name[3]);
  name[3] = 0;
  return stem == 4 && (!lstrcmpiA(name, "COM") || !lstrcmpiA(name, "LPT")) &&
         ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

// Components made only of dots and spaces ("..", ". .", "...") are refused:
// the system's path normalisation may turn them into a parent reference.
bool IsSafeEntryName(const WCHAR* name) {
  if (!name[0] || IsSeparator(name[0]))
    return false;
  bool onlyDots = true;
  const WCHAR* component = name;
  for (const WCHAR* p = name;; ++p) {
    if (*p == ':')
      return false;
    if (*p == 0 || IsSeparator(*p)) {
      if (onlyDots || IsDeviceName(component, static_cast<int>(p - component)))
        return false;
      if (*p == 0)
        return true;
      onlyDots = true;
      component = p + 1;
    } else if (*p != '.' && *p != ' ') {
      onlyDots = false;
    }
  }
}

INT_PTR CreateOutputFile(const WCHAR* path) {
  // Created empty, never opened over an existing file's bytes.
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
}

void StampFile(const WCHAR* path, USHORT date, USHORT time) {
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return;
  FILETIME local;
  FILETIME utc;
  if (DosDateTimeToFileTime(date, time, &local) == 1 && LocalFileTimeToFileTime(&local, &utc) == 1)
    SetFileTime(file, &utc, NULL, &utc);
  CloseHandle(file);
}

}  // namespace

bool BuildExtractPath(const char* stored, USHORT attributes, WCHAR* out) {
  // Marked names are UTF-8, as the cabinet tools that mark them write
  // them; a malformed one (an overlong dot or backslash among them) is refused,
  // never patched up. Unmarked names are read as the narrow file calls
  // would read them.
  const bool utf8 = (attributes & kNameIsUtf8) != 0;
  WCHAR name[kPathCapacity];
  return MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, utf8 ? MB_ERR_INVALID_CHARS : 0, stored, -1,
                             name, kPathCapacity) &&
         IsSafeEntryName(name) && JoinPath<WCHAR>(g_extractDir, name, out);
}

// LocalAlloc takes from the process heap as well, without a GetProcessHeap
// call at every use.
FNALLOC(CabAlloc) {
  return LocalAlloc(LMEM_FIXED, cb);
}

FNFREE(CabFree) {
  LocalFree(pv);
}

// FDI opens only the cabinet through here, and only reads it: whatever the
// name, it gets the held file object itself, never what a name leads to
// now (Wine's ReOpenFile goes by name). The duplicate shares the held
// handle's file position, which nothing else moves meanwhile; FDI reads
// from where a fresh open starts.
FNOPEN(CabOpen) {
  HANDLE file = NULL;
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, g_extractCabinet, self, &file, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
      SetFilePointer(file, 0, NULL, FILE_BEGIN)) {
    if (file)
      CloseHandle(file);
    return -1;
  }
  return reinterpret_cast<INT_PTR>(file);
}

FNREAD(CabRead) {
  DWORD done = 0;
  return ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, NULL) ? done : 0;
}

FNWRITE(CabWrite) {
  // A large file is written block by block, many small ones file by file
  // (below): the window keeps answering through both.
  AnswerSentMessagesWhenDue();
  DWORD done = 0;
  // FDI may carry on after a short write (Wine's does): a full disk must
  // still fail the extraction.
  if (!WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, NULL) || done != cb)
    g_writeFailed = 1;
  return done;
}

FNCLOSE(CabClose) {
  return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1;
}

FNSEEK(CabSeek) {
  // FDI's origins 0, 1, 2 are FILE_BEGIN, FILE_CURRENT, FILE_END.
  return static_cast<__LONG32>(SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, NULL, seektype));
}

FNFDINOTIFY(CabinetNotify) {
  AnswerSentMessagesWhenDue();
  WCHAR path[kPathCapacity];
  switch (fdint) {
    case fdintCOPY_FILE:
      // -1 makes FDI abandon the whole extraction.
      if (!BuildExtractPath(pfdin->psz1, pfdin->attribs, path))
        return -1;
      // Directories only beneath the destination; a failure shows as the
      // create failing.
      EnsureParentDirectory(path, TextLength(g_extractDir));
      return CreateOutputFile(path);
    case fdintCLOSE_FILE_INFO:
      CabClose(pfdin->hf);
      if (BuildExtractPath(pfdin->psz1, pfdin->attribs, path)) {
        StampFile(path, pfdin->date, pfdin->time);
        SetFileAttributesW(path, pfdin->attribs & kAppliedAttributes);
      }
      return TRUE;
    case fdintNEXT_CABINET:
      // Only the checked file is ever unpacked, never a continuation (the
      // worker refuses a cabinet whose header names one).
      return -1;
    default:
      return 0;
  }
}

bool ExtractCabinet(const char* destinationDirectory, HANDLE cabinet) {
  if (!WidenPath(destinationDirectory, g_extractDir))
    return false;
  g_extractCabinet = cabinet;
  g_writeFailed = 0;
  FdiRoutines fdi;
  if (!LoadFdi(&fdi))
    return false;
  ERF error;
  HFDI context = fdi.create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek,
                            cpu80386, &error);
  if (!context)
    return false;

  // No name: CabOpen hands FDI the held cabinet whatever it asks for.
  char none[1] = "";
  INT_PTR file = CabOpen(none, 0, 0);
  FDICABINETINFO info;
  const bool isCabinet = file != -1 && fdi.isCabinet(context, file, &info);
  if (file != -1)
    CabClose(file);
  const bool copied = isCabinet && fdi.copy(context, none, none, 0, CabinetNotify, NULL, NULL);
  return fdi.destroy(context) && copied && !g_writeFailed;
}
