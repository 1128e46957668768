// Test helper run under Wine beside the installer: starts a program and
// records its full 32-bit exit code (wine's own status keeps only the low
// byte), reports the installer window as a user would see it, closes it
// the way the close box does, posts it a message, and times its answers
// to sent messages and broadcasts. It also paints reference pictures with
// the installer's own painter, runs its DeleteTree, loads an executable's
// icon, loads a DLL the way a careless program would, trusts a root
// certificate machine-wide, makes a bare urlmon download, runs the
// installer's signature check on files or computes their content digest,
// and plays a same-user attacker who swaps the downloaded package or the
// directory it is unpacked in.
#include <windows.h>
#include <urlmon.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/verify_package.h"
#include "install/fs_helpers.h"
#include "progress/paint.h"
#include "shell/state.h"
#include "shell/system_library.h"

// The package check reads at full speed here.
extern const unsigned long kCheckChunkDelay = 0;

namespace {

int Run(const char* exitFile, int argc, char** argv) {
  // Wine takes the temporary directory from its registry, not from the
  // Unix environment; a test that wants its own sets it here.
  if (argc >= 2 && !strcmp(argv[0], "--temp")) {
    SetEnvironmentVariableA("TMP", argv[1]);
    SetEnvironmentVariableA("TEMP", argv[1]);
    argc -= 2;
    argv += 2;
  }
  // Re-quote the program's arguments into one command line.
  static char commandLine[32768];
  commandLine[0] = 0;
  for (int i = 0; i < argc; ++i) {
    if (i)
      strcat(commandLine, " ");
    strcat(commandLine, "\"");
    strcat(commandLine, argv[i]);
    strcat(commandLine, "\"");
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  FILE* out = fopen(exitFile, "w");
  if (!out)
    return 3;
  fprintf(out, "%lu\n", code);
  fclose(out);
  return 0;
}

// One line of key=value pairs, or "none".
int Info(const char* className) {
  HWND hwnd = FindWindowA(className, NULL);
  if (!hwnd) {
    printf("none\n");
    return 0;
  }
  RECT window;
  GetWindowRect(hwnd, &window);
  RECT client;
  GetClientRect(hwnd, &client);
  POINT origin = {0, 0};
  ClientToScreen(hwnd, &origin);
  char title[256] = {};
  GetWindowTextA(hwnd, title, sizeof(title));
  char realClass[256] = {};
  GetClassNameA(hwnd, realClass, sizeof(realClass));
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  printf("visible=%d style=0x%08lx exstyle=0x%08lx x=%ld y=%ld w=%ld h=%ld "
         "cx=%ld cy=%ld cw=%ld ch=%ld classstyle=0x%08lx pid=%lu class=%s title=%s\n",
         IsWindowVisible(hwnd) ? 1 : 0, GetWindowLongA(hwnd, GWL_STYLE),
         GetWindowLongA(hwnd, GWL_EXSTYLE), window.left, window.top, window.right - window.left,
         window.bottom - window.top, origin.x, origin.y, client.right, client.bottom,
         GetClassLongA(hwnd, GCL_STYLE), pid, realClass, title);
  return 0;
}

// A message someone else posts to the installer window, as any process
// of the user may (Windows' UIPI stops that for an elevated window; Wine
// does not).
int Post(const char* className, UINT message, LPARAM lParam) {
  HWND hwnd = FindWindowA(className, NULL);
  if (!hwnd || !PostMessageA(hwnd, message, 0, lParam)) {
    printf("none\n");
    return 1;
  }
  printf("posted\n");
  return 0;
}

// Sends MESSAGE as another program may: wParam 0, lParam a zeroed block
// (a structure the system copies across, for messages that carry one).
int Send(const char* className, UINT message) {
  HWND hwnd = FindWindowA(className, NULL);
  static BYTE zeroed[256];
  DWORD_PTR result = 0;
  if (!hwnd || !SendMessageTimeoutA(hwnd, message, 0, reinterpret_cast<LPARAM>(zeroed),
                                    SMTO_NORMAL, 10000, &result)) {
    printf("none\n");
    return 1;
  }
  printf("sent %ld\n", static_cast<long>(result));
  return 0;
}

int Close(const char* className) {
  HWND hwnd = FindWindowA(className, NULL);
  if (!hwnd) {
    printf("none\n");
    return 1;
  }
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
  printf("closed\n");
  return 0;
}

// Sends WM_NULL to the window over and over, from the moment it is
// visible until it is gone, as the system's hung-window check and a
// broadcasting program would: "answers=N longest=MS" (the longest wait).
int Probe(const char* className, DWORD seconds) {
  const DWORD start = GetTickCount();
  HWND hwnd = NULL;
  while (!(hwnd = FindWindowA(className, NULL)) || !IsWindowVisible(hwnd)) {
    if (GetTickCount() - start > seconds * 1000) {
      printf("none\n");
      return 1;
    }
    Sleep(10);
  }
  DWORD longest = 0, answers = 0;
  while (IsWindow(hwnd) && GetTickCount() - start < seconds * 1000) {
    const DWORD sent = GetTickCount();
    DWORD_PTR result;
    if (SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result))
      ++answers;
    const DWORD waited = GetTickCount() - sent;
    if (waited > longest)
      longest = waited;
    Sleep(10);
  }
  printf("answers=%lu longest=%lu\n", answers, longest);
  return 0;
}

// The installer's MakeUniqueTempName: "free NAME", or "none ERROR" when
// it gave up, with the milliseconds it searched.
int TempName(const char* dir, const char* prefix) {
  char out[MAX_PATH];
  const DWORD start = GetTickCount();
  const bool found = MakeUniqueTempName(dir, prefix, out);
  const DWORD error = GetLastError();
  printf("%s %s %lu\n", found ? "free" : "none", found ? out : std::to_string(error).c_str(),
         GetTickCount() - start);
  return found ? 0 : 1;
}

int Tick() {
  printf("%lu\n", GetTickCount());
  return 0;
}

// What a setup program does after changing PATH: tells every top-level
// window and waits for all. Prints the milliseconds it took.
int Broadcast() {
  const DWORD start = GetTickCount();
  SendMessageA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"));
  printf("%lu\n", GetTickCount() - start);
  return 0;
}

// What the installer's window of client size `width` x `height` shows for
// `text` (error display or the bare black field), as a 24-bit BMP file.
// The text is painted by the installer's own routine into a screen-
// compatible bitmap, so fonts and smoothing match the real window.
int Render(const char* text, int width, int height, bool error, const char* bmpFile) {
  MultiByteToWideChar(CP_ACP, 0, text, -1, g_statusText, kStatusTextCapacity);
  g_errorShown = error ? 1 : 0;
  g_progress = 0;
  g_progressMax = 0;
  // A popup has no frame: its client area is the whole window.
  HWND hwnd = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, width, height, NULL, NULL,
                              GetModuleHandleA(NULL), NULL);
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  PaintProgress(hwnd, memory);
  SelectObject(memory, previous);

  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as BMP files store it
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = stride * height;
  char* pixels = static_cast<char*>(malloc(header.biSizeImage));
  GetDIBits(screen, bitmap, 0, height, pixels, reinterpret_cast<BITMAPINFO*>(&header),
            DIB_RGB_COLORS);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + header.biSizeImage;
  FILE* out = fopen(bmpFile, "wb");
  if (out) {
    fwrite(&file, sizeof(file), 1, out);
    fwrite(&header, sizeof(header), 1, out);
    fwrite(pixels, 1, header.biSizeImage, out);
    fclose(out);
  }
  free(pixels);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
  DestroyWindow(hwnd);
  return out ? 0 : 3;
}

// Plain LoadLibraryA, searching the program's own folder first.
int Load(const char* name) {
  HMODULE module = LoadLibraryA(name);
  printf("%s %lu\n", module ? "loaded" : "failed", module ? 0ul : GetLastError());
  return 0;
}

// An executable's icon as the system's window classes load it
// (LoadIcon: the system's icon size): "WxH:RRGGBB" with the colour of its
// centre pixel, or "none".
int IconCommand(const char* exe, const char* name) {
  HMODULE module = LoadLibraryExA(exe, NULL, LOAD_LIBRARY_AS_DATAFILE);
  HICON icon = module ? LoadIconA(module, name) : NULL;
  ICONINFO parts;
  BITMAP bitmap = {};
  if (!icon || !GetIconInfo(icon, &parts) || !parts.hbmColor ||
      !GetObjectA(parts.hbmColor, sizeof(bitmap), &bitmap)) {
    printf("none\n");
    return 1;
  }
  const LONG w = bitmap.bmWidth, h = bitmap.bmHeight;
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB};
  DWORD* pixels = new DWORD[w * h]();
  HDC screen = GetDC(NULL);
  GetDIBits(screen, parts.hbmColor, 0, h, pixels, &info, DIB_RGB_COLORS);
  ReleaseDC(NULL, screen);
  const DWORD centre = pixels[(h / 2) * w + w / 2];
  printf("%ldx%ld:%06lx\n", w, h, centre & 0xFFFFFF);
  delete[] pixels;
  DeleteObject(parts.hbmColor);
  DeleteObject(parts.hbmMask);
  return 0;
}

int DeleteTreeCommand(const char* directory) {
  printf("%d\n", DeleteTree(directory, true));
  return 0;
}

// Adds a DER certificate to the machine's trusted root store.
int TrustRoot(const char* derFile) {
  BYTE data[16384];
  DWORD size = 0;
  HANDLE file = CreateFileA(derFile, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  BOOL ok = file != INVALID_HANDLE_VALUE && ReadFile(file, data, sizeof(data), &size, NULL);
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  HCERTSTORE store = NULL;
  if (ok) {
    store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    ok = store && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, data, size,
                                                   CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  }
  DWORD error = GetLastError();
  if (store)
    CertCloseStore(store, 0);
  if (!ok) {
    printf("failed 0x%08lx\n", error);
    return 1;
  }
  printf("trusted\n");
  return 0;
}

// A bare URLDownloadToFileA, no callback. urlmon is loaded at run time,
// not imported: the planted-DLL control copies this program beside a fake
// urlmon.dll and must still start.
int Fetch(const char* url, const char* file) {
  auto download = LookUpRoutine<decltype(&URLDownloadToFileA)>(LoadSystemLibrary("urlmon.dll"),
                                                               "URLDownloadToFileA");
  if (!download) {
    printf("failed %lu\n", GetLastError());
    return 1;
  }
  CoInitialize(NULL);
  printf("0x%08lx\n", static_cast<unsigned long>(download(NULL, url, file, 0, NULL)));
  return 0;
}

// Whether `path` now holds exactly `data`, written through a new handle.
bool WriteWhole(const char* path, DWORD disposition, const char* data, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            disposition, 0, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, data, size, &written, NULL) && written == size && SetEndOfFile(file);
  const DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok;
}

bool Exists(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The first entry of `pattern` that is a file of at least `size` bytes
// (any entry when `size` is 0), as a full path in `out`.
bool FindEntry(const char* dir, const char* pattern, DWORD size, char* out) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA(pattern, &entry);
  if (find == INVALID_HANDLE_VALUE)
    return false;
  bool found = false;
  do {
    found = !size || (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                      (entry.nFileSizeHigh || entry.nFileSizeLow >= size));
  } while (!found && FindNextFileA(find, &entry));
  FindClose(find);
  if (found)
    snprintf(out, MAX_PATH, "%s\\%s", dir, entry.cFileName);
  return found;
}

// WinVerifyTrust as the installer calls it (no UI, no revocation check)
// on any file.
HRESULT PlatformTrust(HANDLE file, const char* path) {
  WCHAR widePath[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);
  WINTRUST_FILE_INFO fileInfo = {sizeof(fileInfo), widePath, file, NULL};
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const HRESULT result = WinVerifyTrust(noUser, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(noUser, &action, &data);
  return result;
}

// A line for each file: a cabinet's as the installer checks its package
// (no pins), content digest and all; any other file's, such as the signed
// installer's, by the platform alone. A checked file goes, as the
// installer's held package does.
int Verify(int count, char** paths) {
  for (int i = 0; i < count; ++i) {
    HANDLE file = OpenPackage(paths[i]);
    if (file == INVALID_HANDLE_VALUE) {
      printf("failed %lu\n", GetLastError());
      return 1;
    }
    const HRESULT result = CabinetLength(file) ? CheckPackageTrust(file, paths[i], "", "", true, 0)
                                               : PlatformTrust(file, paths[i]);
    printf("0x%08lx\n", static_cast<unsigned long>(result));
    CloseHandle(file);
  }
  return 0;
}

// The content digest the installer computes of each signed cabinet, in
// hexadecimal, or "none" where it finds no signature it could check: a
// line each.
int Digest(int count, char** paths) {
  HCRYPTPROV provider;
  if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return 1;
  for (int i = 0; i < count; ++i) {
    HANDLE file = CreateFileA(paths[i], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    SignedContent content;
    if (file == INVALID_HANDLE_VALUE || ReadPackage(provider, file, "", &content) != S_OK) {
      printf("failed %lu\n", GetLastError());
      return 1;
    }
    CloseHandle(file);
    for (DWORD j = 0; content.found && j < kSha256Size; ++j)
      printf("%02X", content.digest[j]);
    printf(content.found ? "\n" : "none\n");
  }
  CryptReleaseContext(provider, 0);
  return 0;
}

// A non-elevated process of the same user. Once a file PREFIX* in DIR has
// reached `size` bytes (the download is complete), and, with `waitFor`,
// once an entry DIR\WAITFOR* exists (the package has passed its check),
// it keeps trying, as fast as it can, to make that name hold CABFILE:
// renaming a copy over it, writing over it, deleting and re-creating it.
// It stops once the file is gone, or that WAITFOR entry, or `seconds`
// after it started (a deletion that falls between its own delete and
// re-create goes unnoticed). Run on the Windows side, so that Wine's
// share-mode checks apply as they would to a real attacker.
// The newest directory matching `pattern` (a path whose last part may hold
// wildcards), as a full path in `out`: what an earlier run left behind is
// passed over.
bool FindDirectory(const char* pattern, char* out) {
  char parent[MAX_PATH];
  snprintf(parent, sizeof(parent), "%s", pattern);
  char* slash = strrchr(parent, '\\');
  if (!slash)
    return false;
  *slash = 0;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA(pattern, &entry);
  if (find == INVALID_HANDLE_VALUE)
    return false;
  FILETIME newest = {0, 0};
  bool found = false;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && entry.cFileName[0] != '.' &&
        CompareFileTime(&entry.ftCreationTime, &newest) >= 0) {
      newest = entry.ftCreationTime;
      snprintf(out, MAX_PATH, "%s\\%s", parent, entry.cFileName);
      found = true;
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return found;
}

int Tamper(const char* dirPattern, const char* prefix, DWORD size, const char* cabFile,
           DWORD seconds, const char* waitFor) {
  HANDLE source = CreateFileA(cabFile, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  const DWORD cabSize = source == INVALID_HANDLE_VALUE ? 0 : GetFileSize(source, NULL);
  char* cab = cabSize && cabSize != INVALID_FILE_SIZE ? static_cast<char*>(malloc(cabSize)) : NULL;
  DWORD read = 0;
  const BOOL loaded = cab && ReadFile(source, cab, cabSize, &read, NULL) && read == cabSize;
  if (source != INVALID_HANDLE_VALUE)
    CloseHandle(source);
  if (!loaded) {
    free(cab);
    fprintf(stderr, "cannot read %s\n", cabFile);
    return 2;
  }
  char dir[MAX_PATH] = "";
  char pattern[MAX_PATH], trigger[MAX_PATH], waitEntry[MAX_PATH], spare[MAX_PATH] = "";
  char target[MAX_PATH] = "";
  bool armed = !waitFor;
  int seen = 0, replaced = 0, late = 0, refused = 0;
  // How often each reason for a refusal came back, e.g. 32 (sharing violation).
  const int kReasons = 8;
  DWORD reasons[kReasons] = {}, reasonCounts[kReasons] = {};
  auto count = [&](bool ok) {
    if (ok) {
      // A success counts only if WAITFOR still exists after it: the
      // installer removes its unpacking directory before letting go of
      // the package, so anything later is after the fact.
      ++*(waitFor && !Exists(waitEntry) ? &late : &replaced);
      return;
    }
    ++refused;
    const DWORD error = GetLastError();
    for (int i = 0; i < kReasons; ++i) {
      if (!reasonCounts[i] || reasons[i] == error) {
        reasons[i] = error;
        ++reasonCounts[i];
        return;
      }
    }
  };
  // The caller starts the installer only once we are watching.
  printf("watching\n");
  fflush(stdout);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < seconds * 1000) {
    // DIR may name the installer's work directory by a pattern: its name
    // is known only once it exists.
    if (!dir[0]) {
      if (strchr(dirPattern, '*') ? FindDirectory(dirPattern, dir)
                                  : snprintf(dir, sizeof(dir), "%s", dirPattern) > 0) {
        snprintf(pattern, sizeof(pattern), "%s\\%s*", dir, prefix);
        snprintf(trigger, sizeof(trigger), "%s\\%s*", dir, waitFor ? waitFor : "");
        // Renamed over the target; outside PREFIX*, removed on the way out.
        snprintf(spare, sizeof(spare), "%s\\zvtamper%lu.tmp", dir, GetCurrentProcessId());
      }
      continue;
    }
    if (!target[0]) {
      seen += FindEntry(dir, pattern, size, target);
      continue;
    }
    // The name is looked for before each try, so that the installer's own
    // deletion ends the attack rather than being undone by a rename.
    if (!Exists(target))
      break;
    if (!armed) {
      armed = FindEntry(dir, trigger, 0, waitEntry);
      continue;
    }
    // Once WAITFOR is gone again, the installer is done with the package.
    if (waitFor && !Exists(waitEntry))
      break;
    if (Exists(spare) || WriteWhole(spare, CREATE_ALWAYS, cab, cabSize))
      count(MoveFileExA(spare, target, MOVEFILE_REPLACE_EXISTING) != 0);
    if (!Exists(target))
      break;
    count(WriteWhole(target, OPEN_EXISTING, cab, cabSize));
    if (!Exists(target))
      break;
    if (DeleteFileA(target))
      count(WriteWhole(target, CREATE_NEW, cab, cabSize));
    else
      count(false);
  }
  if (spare[0])
    DeleteFileA(spare);
  free(cab);
  printf("seen=%d armed=%d replaced=%d late=%d refused=%d errors=", seen, armed ? 1 : 0, replaced,
         late, refused);
  for (int i = 0; i < kReasons && reasonCounts[i]; ++i)
    printf("%s%lu:%lu", i ? "," : "", reasons[i], reasonCounts[i]);
  printf("\n");
  return 0;
}

// An unpacking directory ZVinsD* holding Setup.exe, directly in `root` or
// in an installer work directory ZVinsW* there, as a full path in `out`.
bool FindUnpacked(const char* root, char* out) {
  char pattern[MAX_PATH], work[MAX_PATH], setup[MAX_PATH];
  snprintf(pattern, sizeof(pattern), "%s\\ZVinsD*", root);
  if (!FindDirectory(pattern, out)) {
    snprintf(pattern, sizeof(pattern), "%s\\ZVinsW*", root);
    if (!FindDirectory(pattern, work))
      return false;
    snprintf(pattern, sizeof(pattern), "%s\\ZVinsD*", work);
    if (!FindDirectory(pattern, out))
      return false;
  }
  snprintf(setup, sizeof(setup), "%s\\Setup.exe", out);
  return Exists(setup);
}

// A non-elevated process of the same user that waits for Setup.exe in an
// unpacking directory under any of `roots`, moves that directory away and
// puts its own in its place, with SETUP as its Setup.exe. It stops once it
// has, once the directory it saw is gone (the installer is done), or after
// `seconds`.
int SwapDirectory(const char* setupFile, DWORD seconds, int rootCount, char** roots) {
  printf("watching\n");
  fflush(stdout);
  int seen = 0, moved = 0, refused = 0;
  DWORD error = 0;
  char found[MAX_PATH] = "", away[MAX_PATH], planted[MAX_PATH];
  const DWORD start = GetTickCount();
  while (!moved && GetTickCount() - start < seconds * 1000) {
    if (seen && !Exists(found))
      break;
    for (int i = 0; i < rootCount && !moved; ++i) {
      if (!FindUnpacked(roots[i], found))
        continue;
      ++seen;
      snprintf(away, sizeof(away), "%s.moved", found);
      if (!MoveFileA(found, away)) {
        ++refused;
        error = GetLastError();
        continue;
      }
      ++moved;
      CreateDirectoryA(found, NULL);
      snprintf(planted, sizeof(planted), "%s\\Setup.exe", found);
      CopyFileA(setupFile, planted, FALSE);
    }
  }
  printf("seen=%d moved=%d refused=%d error=%lu\n", seen, moved, refused, error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && !strcmp(argv[1], "run"))
    return Run(argv[2], argc - 3, argv + 3);
  if (argc == 3 && !strcmp(argv[1], "info"))
    return Info(argv[2]);
  if (argc == 3 && !strcmp(argv[1], "close"))
    return Close(argv[2]);
  if (argc == 7 && !strcmp(argv[1], "render"))
    return Render(argv[2], atoi(argv[3]), atoi(argv[4]), !strcmp(argv[5], "error"), argv[6]);
  if (argc == 3 && !strcmp(argv[1], "load"))
    return Load(argv[2]);
  if (argc == 4 && !strcmp(argv[1], "send"))
    return Send(argv[2], strtoul(argv[3], NULL, 0));
  if (argc == 4 && !strcmp(argv[1], "probe"))
    return Probe(argv[2], strtoul(argv[3], NULL, 10));
  if (argc == 4 && !strcmp(argv[1], "tempname"))
    return TempName(argv[2], argv[3]);
  if (argc == 2 && !strcmp(argv[1], "tick"))
    return Tick();
  if (argc == 2 && !strcmp(argv[1], "broadcast"))
    return Broadcast();
  if (argc == 4 && !strcmp(argv[1], "icon"))
    return IconCommand(argv[2], argv[3]);
  if (argc == 3 && !strcmp(argv[1], "deltree"))
    return DeleteTreeCommand(argv[2]);
  if (argc == 3 && !strcmp(argv[1], "trustroot"))
    return TrustRoot(argv[2]);
  if (argc == 4 && !strcmp(argv[1], "fetch"))
    return Fetch(argv[2], argv[3]);
  if (argc >= 3 && !strcmp(argv[1], "verify"))
    return Verify(argc - 2, argv + 2);
  if (argc >= 3 && !strcmp(argv[1], "digest"))
    return Digest(argc - 2, argv + 2);
  if (argc == 5 && !strcmp(argv[1], "post"))
    return Post(argv[2], strtoul(argv[3], NULL, 0), strtoul(argv[4], NULL, 0));
  if (argc >= 5 && !strcmp(argv[1], "swapdir"))
    return SwapDirectory(argv[2], strtoul(argv[3], NULL, 10), argc - 4, argv + 4);
  if ((argc == 7 || argc == 8) && !strcmp(argv[1], "tamper"))
    return Tamper(argv[2], argv[3], strtoul(argv[4], NULL, 10), argv[5], strtoul(argv[6], NULL, 10),
                  argc == 8 ? argv[7] : NULL);
  fprintf(stderr,
          "usage: zvtool run EXITFILE [--temp DIR] PROGRAM [ARGS...] | info CLASS | close CLASS\n"
          "     | render TEXT WIDTH HEIGHT error|progress BMPFILE | load DLL | deltree DIR\n"
          "     | icon EXE NAME | probe CLASS SECONDS | broadcast | send CLASS MESSAGE\n"
          "     | tick | tempname DIR PREFIX\n"
          "     | trustroot CERT.der | fetch URL FILE | verify FILE... | digest FILE...\n"
          "     | post CLASS MESSAGE LPARAM | swapdir SETUP SECONDS ROOT...\n"
          "     | tamper DIR PREFIX SIZE CABFILE SECONDS [WAITFOR]\n");
  return 64;
}
