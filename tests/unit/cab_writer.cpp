#include "cab_writer.h"

#include <algorithm>

#include "install/fs_helpers.h"

namespace {

const size_t kBlockSize = 32768;  // the format's largest uncompressed block

void Put16(std::string* out, unsigned value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string* out, unsigned long value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}

// The cabinet format's XOR checksum over little-endian 32-bit words; a
// tail of 1-3 bytes is taken most significant byte first.
unsigned long Checksum(const unsigned char* data, size_t size, unsigned long seed) {
  unsigned long sum = seed;
  size_t i = 0;
  for (; i + 4 <= size; i += 4)
    sum ^= data[i] | (data[i + 1] << 8) | (data[i + 2] << 16) | (static_cast<unsigned long>(data[i + 3]) << 24);
  unsigned long tail = 0;
  for (; i < size; ++i)
    tail = (tail << 8) | data[i];
  return sum ^ tail;
}

}  // namespace

WORD DosDate(int year, int month, int day) {
  return static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
}

WORD DosTime(int hour, int minute, int second) {
  return static_cast<WORD>((hour << 11) | (minute << 5) | (second / 2));
}

std::string BuildCabinet(const std::vector<CabEntry>& entries, bool checksums,
                         const std::string& nextCabinet) {
  std::string payload;
  std::string files;
  for (const CabEntry& entry : entries) {
    Put32(&files, entry.data.size());
    Put32(&files, payload.size());  // offset in the folder's data
    Put16(&files, 0);               // folder 0
    Put16(&files, entry.date);
    Put16(&files, entry.time);
    Put16(&files, entry.attributes);
    files += entry.name;
    files.push_back('\0');
    payload += entry.data;
  }

  std::string blocks;
  unsigned blockCount = 0;
  for (size_t start = 0; start < payload.size(); start += kBlockSize, ++blockCount) {
    const size_t size = std::min(kBlockSize, payload.size() - start);
    std::string sizes;
    Put16(&sizes, size);  // stored bytes
    Put16(&sizes, size);  // bytes it unpacks to
    unsigned long sum = 0;
    if (checksums) {
      const unsigned char* data = reinterpret_cast<const unsigned char*>(payload.data() + start);
      sum = Checksum(reinterpret_cast<const unsigned char*>(sizes.data()), 4,
                     Checksum(data, size, 0));
    }
    Put32(&blocks, sum);
    blocks += sizes;
    blocks.append(payload, start, size);
  }

  // A continuation is named by the cabinet's file name and its disk's.
  const std::string next = nextCabinet.empty() ? "" : nextCabinet + '\0' + "disk 2" + '\0';
  const unsigned long headerSize = 36 + next.size(), folderSize = 8;
  const unsigned long dataStart = headerSize + folderSize + files.size();
  std::string cabinet = "MSCF";
  Put32(&cabinet, 0);
  Put32(&cabinet, dataStart + blocks.size());  // whole cabinet
  Put32(&cabinet, 0);
  Put32(&cabinet, headerSize + folderSize);  // first file entry
  Put32(&cabinet, 0);
  cabinet.push_back(3);  // format version 1.3
  cabinet.push_back(1);
  Put16(&cabinet, 1);  // folders
  Put16(&cabinet, entries.size());
  Put16(&cabinet, next.empty() ? 0 : 2);  // flags: no reserve; a next cabinet or none
  Put16(&cabinet, 0x5A56);  // set id
  Put16(&cabinet, 0);       // index in the set
  cabinet += next;
  Put32(&cabinet, dataStart);
  Put16(&cabinet, blockCount);
  Put16(&cabinet, 0);  // stored, not compressed
  return cabinet + files + blocks;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), bytes.size(), &written, NULL);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bytes->assign(GetFileSize(file, NULL), '\0');
  DWORD read = 0;
  const BOOL ok = bytes->empty() || ReadFile(file, &(*bytes)[0], bytes->size(), &read, NULL);
  CloseHandle(file);
  return ok && read == bytes->size();
}

ScratchDirectory::ScratchDirectory() {
  static int counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH];
  wsprintfA(name, "%szvtest-%lu-%d", temp, GetCurrentProcessId(), ++counter);
  path_ = name;
  DeleteTree(path_.c_str(), true);
  CreateDirectoryA(path_.c_str(), NULL);
}

ScratchDirectory::~ScratchDirectory() {
  DeleteTree(path_.c_str(), true);
}

std::vector<std::string> ListTree(const std::string& directory) {
  std::vector<std::string> found;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((Wide(directory) + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return found;
  do {
    const std::string name = Utf8(entry.cFileName);
    if (name == "." || name == "..")
      continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      found.push_back(name + "\\");
      for (const std::string& inner : ListTree(directory + "\\" + name))
        found.push_back(name + "\\" + inner);
    } else {
      found.push_back(name);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(found.begin(), found.end());
  return found;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], wide.size()) - 1);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  std::string utf8(wide.size() * 3 + 1, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], utf8.size(), NULL,
                                  NULL) - 1);
  return utf8;
}
