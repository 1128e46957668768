// What goes into a cabinet: the files under their stored names, and the
// folders they are split into. Everything a cabinet cannot hold is refused
// here, before a byte is written, with a message naming the file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace cab {

struct InputFile {
  std::string path;  // where it is read from
  std::string name;  // as stored: backslash-separated
  uint64_t size;
  uint16_t date;  // MS-DOS date and time of its modification, local time
  uint16_t time;
  uint16_t attributes;
};

// Each NAME relative to `directory`: a regular file, or a directory whose
// regular files are all taken. The list is sorted by stored name (byte
// order of the paths), so the same tree gives the same cabinet whatever the order of
// the directory's entries. False with `error` set on the first name a
// cabinet cannot hold, or on anything but a regular file or directory.
bool CollectFiles(const std::string& directory, const std::vector<std::string>& names,
                  std::vector<InputFile>& files, std::string& error);

// Empty when a cabinet can hold `name` (backslash-separated) as a file's
// name, else why not.
std::string CheckStoredName(const std::string& name);

// The archive bit, as cabinet tools set it on every file, and the UTF-8
// flag on a name that is not plain ASCII.
uint16_t AttributesFor(const std::string& name);

// `when` as an MS-DOS date and time in local time, held to the years they
// can express (1980-2107).
void DosDateTime(std::time_t when, uint16_t& date, uint16_t& time);

struct FolderPlan {
  size_t firstFile;
  size_t fileCount;
  uint64_t size;  // uncompressed bytes
};

// The files in order, in folders of at most `maxBlocks` data blocks each:
// a new one begins where the next file would not fit. False with `error`
// when a file fits in no folder, or there would be too many.
bool PlanFolders(const std::vector<InputFile>& files, uint32_t maxBlocks,
                 std::vector<FolderPlan>& folders, std::string& error);

}  // namespace cab
