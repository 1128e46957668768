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
bool ReadBytes(const std::string& path, std::string* bytes);

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

// Every file and directory beneath `directory`, relative to it, sorted;
// directories end in a backslash.
std::vector<std::string> ListTree(const std::string& directory);
