#include "cab_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "cab_format.h"

namespace cab {
namespace {

// A Linux name component as a Windows name: no separator of its own, none
// of the characters Windows refuses in a name, no "." or "..".
std::string CheckComponent(const std::string& component) {
  if (component.empty()) return "an empty name component";
  if (component == "." || component == "..") return "a \".\" or \"..\" component";
  for (unsigned char c : component) {
    if (c < 0x20) return "a control character";
    if (c == '\\') return "a backslash, which a cabinet takes as a folder separator";
    if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
      return std::string("a '") + static_cast<char>(c) + "', which Windows refuses in a name";
  }
  return "";
}

bool ValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length;
    uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

std::string JoinPath(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return a.empty() ? b : a;
  return a.back() == '/' ? a + b : a + "/" + b;
}

// `relative` with "." components and doubled slashes dropped; false for an
// absolute path or one with a ".." component (it would leave the directory).
bool NormalizeRelative(const std::string& relative, std::string& normal) {
  if (!relative.empty() && relative[0] == '/') return false;
  normal.clear();
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string component = relative.substr(start, end - start);
    if (component == "..") return false;
    if (!component.empty() && component != ".") normal = JoinPath(normal, component);
    start = end + 1;
  }
  return true;
}

bool Walk(const std::string& directory, const std::string& relative,
          std::vector<std::pair<std::string, struct stat>>& found, std::string& error) {
  std::string path = JoinPath(directory, relative);
  // The directory named itself may be reached through a link; nothing in it.
  struct stat status;
  const char* at = path.empty() ? "." : path.c_str();
  if ((relative.empty() ? stat(at, &status) : lstat(at, &status)) != 0) {
    error = path + ": cannot be read";
    return false;
  }
  if (S_ISREG(status.st_mode)) {
    if (relative.empty()) {
      error = path + ": a file needs a name relative to the directory";
      return false;
    }
    found.emplace_back(relative, status);
    return true;
  }
  if (!S_ISDIR(status.st_mode)) {
    error = path + ": not a regular file or directory (a link or a special file)";
    return false;
  }
  DIR* listing = opendir(path.empty() ? "." : path.c_str());
  if (!listing) {
    error = path + ": cannot be listed";
    return false;
  }
  std::vector<std::string> entries;
  while (struct dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") entries.push_back(name);
  }
  closedir(listing);
  for (const std::string& name : entries) {
    if (!Walk(directory, JoinPath(relative, name), found, error)) return false;
  }
  return true;
}

}  // namespace

std::string CheckStoredName(const std::string& name) {
  if (name.empty()) return "an empty name";
  if (name.find('\0') != std::string::npos) return "a NUL in its name";
  if (name.size() > kMaxNameBytes)
    return "a name of " + std::to_string(name.size()) + " bytes, more than the " +
           std::to_string(kMaxNameBytes) + " a cabinet holds";
  if (!ValidUtf8(name)) return "a name that is not UTF-8";
  size_t start = 0;
  for (;;) {
    size_t end = name.find('\\', start);
    std::string why = CheckComponent(name.substr(start, end - start));
    if (!why.empty()) return why;
    if (end == std::string::npos) return "";
    start = end + 1;
  }
}

uint16_t AttributesFor(const std::string& name) {
  bool ascii = std::all_of(name.begin(), name.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return static_cast<uint16_t>(kAttributeArchive | (ascii ? 0 : kAttributeUtf8Name));
}

void DosDateTime(std::time_t when, uint16_t& date, uint16_t& time) {
  struct tm local;
  if (!localtime_r(&when, &local) || local.tm_year < 80) {
    date = 1 << 5 | 1;  // 1980-01-01 00:00:00
    time = 0;
    return;
  }
  if (local.tm_year > 207) {
    date = 127 << 9 | 12 << 5 | 31;  // 2107-12-31 23:59:58
    time = 23 << 11 | 59 << 5 | 29;
    return;
  }
  date = static_cast<uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  time = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
}

bool CollectFiles(const std::string& directory, const std::vector<std::string>& names,
                  std::vector<InputFile>& files, std::string& error) {
  std::vector<std::pair<std::string, struct stat>> found;
  for (const std::string& name : names) {
    std::string relative;
    if (!NormalizeRelative(name, relative)) {
      error = name + ": not a path inside " + (directory.empty() ? "." : directory);
      return false;
    }
    if (!Walk(directory, relative, found, error)) return false;
  }
  // Byte order of the paths as found, '/' between components.
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  files.clear();
  for (auto& [relative, status] : found) {
    std::string stored = relative;
    for (char& c : stored) {
      if (c == '\\') {
        error = JoinPath(directory, relative) + ": a backslash, which a cabinet takes as a folder separator";
        return false;
      }
      if (c == '/') c = '\\';
    }
    std::string why = CheckStoredName(stored);
    if (!why.empty()) {
      error = JoinPath(directory, relative) + ": " + why;
      return false;
    }
    uint64_t size = static_cast<uint64_t>(status.st_size);
    if (size > 0xFFFFFFFFu) {
      error = JoinPath(directory, relative) + ": " + std::to_string(size) +
              " bytes; a cabinet holds no file of 4 GiB or more";
      return false;
    }
    InputFile file{JoinPath(directory, relative), stored, size, 0, 0, AttributesFor(stored)};
    DosDateTime(status.st_mtime, file.date, file.time);
    files.push_back(file);
  }
  for (size_t i = 1; i < files.size(); ++i) {
    if (files[i].name == files[i - 1].name) {
      error = files[i].path + ": named twice";
      return false;
    }
  }
  if (files.size() > kMaxFiles) {
    error = std::to_string(files.size()) + " files; a cabinet holds at most " +
            std::to_string(kMaxFiles);
    return false;
  }
  return true;
}

bool PlanFolders(const std::vector<InputFile>& files, uint32_t maxBlocks,
                 std::vector<FolderPlan>& folders, std::string& error) {
  uint64_t capacity = static_cast<uint64_t>(maxBlocks) * kBlockSize;
  folders.clear();
  for (size_t i = 0; i < files.size(); ++i) {
    const InputFile& file = files[i];
    if (file.size > capacity) {
      error = file.path + ": " + std::to_string(file.size) + " bytes; a cabinet folder holds " +
              std::to_string(capacity) + " at most (" + std::to_string(maxBlocks) +
              " blocks of 32 KiB) and a file cannot span folders";
      return false;
    }
    if (folders.empty() || folders.back().size + file.size > capacity) {
      if (folders.size() == kMaxFolders) {
        error = file.path + ": would need more than " + std::to_string(kMaxFolders) + " folders";
        return false;
      }
      folders.push_back(FolderPlan{i, 0, 0});
    }
    folders.back().fileCount++;
    folders.back().size += file.size;
  }
  return true;
}

}  // namespace cab
