// A minimal writer of uncompressed Microsoft Cabinet files, so the tests
// control every stored name, date, time and attribute exactly (cabinet
// tools normalise names and always stamp the archive bit).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct CabEntry {
  std::string name;  // stored as given, backslashes and all
  std::string data;
  WORD date;  // MS-DOS date and time, local
  WORD time;
  WORD attributes;
};

WORD DosDate(int year, int month, int day);
WORD DosTime(int hour, int minute, int second);

// One uncompressed folder; data in 32 KB blocks, each with its checksum
// unless `checksums` is false. With `nextCabinet`, the header announces
// that file as the set's next cabinet.
std::string BuildCabinet(const std::vector<CabEntry>& entries, bool checksums = true,
                         const std::string& nextCabinet = "");

bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string* bytes);  // `path` in UTF-8

// A fresh empty directory under the temporary directory, removed with
// everything in it when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Every file and directory beneath `directory` (UTF-8), relative to it, as
// UTF-8, sorted; directories end in a backslash. Listed by wide names, so
// that a name outside the ANSI code page shows as it is.
std::vector<std::string> ListTree(const std::string& directory);
// UTF-8 to UTF-16 and back.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
