// Stands in for a package's Setup.exe. It records what it was given and
// what it saw, then exits with the code it was told to use.
//   ZV_SETUP_RECORD  file to append the record to (a Windows path)
//   ZV_SETUP_EXIT    exit code, decimal (default 0)
//   ZV_SETUP_SLEEP   milliseconds to stay alive first (default 0)
//   ZV_SETUP_BROADCAST  when set, announce a changed environment to every
//                    top-level window first and wait for all to answer, as
//                    setup programs that change PATH do
//   ZV_SETUP_LIST    when set, record what its directory holds, by wide
//                    names: "tree=" and the relative paths in UTF-8,
//                    sorted, separated by "|" (directories end in "\\")
//   ZV_SETUP_LITTER  when set, leave files named outside any ANSI code page
//                    in its directory, as a log would be: a file, and a
//                    read-only file in a read-only folder
//   ZV_SETUP_STAGE2  when set, hand over as a bootstrapper does: start its
//                    own Setup.exe again with "/stage2" and end at once.
//                    The second stage sleeps ZV_SETUP_STAGE2_SLEEP ms
//                    (default 4000), then records "stage2_tree=" and its
//                    directory's listing, as ZV_SETUP_LIST does
//   ZV_SETUP_LAUNCH  the path of a copy of this program to start as a second
//                    stage in its own folder and leave running, as setup
//                    programs start the installed application
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& wide) {
  char buffer[4 * MAX_PATH];
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, buffer, sizeof(buffer),
                                         NULL, NULL);
  return std::string(buffer, length > 0 ? length - 1 : 0);
}

void ListTree(const std::wstring& directory, const std::wstring& prefix,
              std::vector<std::string>* found) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      found->push_back(Utf8(prefix + name + L"\\"));
      ListTree(directory + L"\\" + name, prefix + name + L"\\", found);
    } else {
      found->push_back(Utf8(prefix + name));
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

void Litter() {
  const wchar_t* log = L"\x30ED\x30B0 \xD83D\xDE00.txt";  // ログ 😀.txt
  const wchar_t* folder = L"\x30C7\x30FC\x30BF";         // データ
  const std::wstring inside = std::wstring(folder) + L"\\\x8AAC\x660E.txt";  // 説明.txt
  CreateDirectoryW(folder, NULL);
  for (const std::wstring& name : {std::wstring(log), inside}) {
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    WriteFile(file, "log", 3, &written, NULL);
    CloseHandle(file);
  }
  SetFileAttributesW(inside.c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(folder, FILE_ATTRIBUTE_READONLY);
}

void Record(const char* key, const std::string& value) {
  char path[MAX_PATH];
  if (!GetEnvironmentVariableA("ZV_SETUP_RECORD", path, sizeof(path)))
    return;
  FILE* out = fopen(path, "a");
  if (out) {
    fprintf(out, "%s=%s\n", key, value.c_str());
    fclose(out);
  }
}

std::string ListedTree() {
  std::vector<std::string> found;
  ListTree(L".", L"", &found);
  std::sort(found.begin(), found.end());
  std::string joined;
  for (const std::string& name : found)
    joined += (joined.empty() ? "" : "|") + name;
  return joined;
}

// `commandLine` started in `directory` (NULL: this one).
bool Start(const std::string& commandLine, const char* directory) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::string buffer = commandLine;
  if (!CreateProcessA(NULL, &buffer[0], NULL, NULL, FALSE, 0, NULL, directory, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

int main() {
  char value[MAX_PATH];
  if (strstr(GetCommandLineA(), " /stage2")) {
    DWORD sleep = 4000;
    if (GetEnvironmentVariableA("ZV_SETUP_STAGE2_SLEEP", value, sizeof(value)))
      sleep = strtoul(value, NULL, 10);
    Sleep(sleep);
    Record("stage2_tree", ListedTree());
    return 0;
  }
  DWORD sleep = 0;
  if (GetEnvironmentVariableA("ZV_SETUP_SLEEP", value, sizeof(value)))
    sleep = strtoul(value, NULL, 10);
  Sleep(sleep);
  const bool broadcast = GetEnvironmentVariableA("ZV_SETUP_BROADCAST", value, sizeof(value)) != 0;
  if (broadcast)
    SendMessageA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"));

  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(directory), directory);
  HWND installer = FindWindowA("CZVsexwnd", NULL);
  if (GetEnvironmentVariableA("ZV_SETUP_RECORD", value, sizeof(value))) {
    FILE* out = fopen(value, "a");
    if (out) {
      fprintf(out, "cmdline=%s\ncwd=%s\ninstaller_window=%d\ninstaller_visible=%d\n",
              GetCommandLineA(), directory, installer ? 1 : 0,
              installer && IsWindowVisible(installer) ? 1 : 0);
      if (broadcast)
        fprintf(out, "broadcast=answered\n");
      if (GetEnvironmentVariableA("ZV_SETUP_LIST", value, sizeof(value)))
        fprintf(out, "tree=%s\n", ListedTree().c_str());
      fclose(out);
    }
  }
  if (GetEnvironmentVariableA("ZV_SETUP_LITTER", value, sizeof(value)))
    Litter();
  if (GetEnvironmentVariableA("ZV_SETUP_STAGE2", value, sizeof(value)))
    Record("stage2_started", Start("\"" + std::string(directory) + "\\Setup.exe\" /stage2", NULL) ? "1" : "0");
  if (GetEnvironmentVariableA("ZV_SETUP_LAUNCH", value, sizeof(value))) {
    // In the program's own folder, as an installed application is started.
    std::string folder = value;
    folder.erase(folder.find_last_of('\\'));
    Record("launched", Start("\"" + std::string(value) + "\" /stage2", folder.c_str()) ? "1" : "0");
  }
  DWORD code = 0;
  if (GetEnvironmentVariableA("ZV_SETUP_EXIT", value, sizeof(value)))
    code = strtoul(value, NULL, 10);
  return static_cast<int>(code);
}
