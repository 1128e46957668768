#include "cab_format.h"

namespace cab {
namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  PutU16(out, static_cast<uint16_t>(value));
  PutU16(out, static_cast<uint16_t>(value >> 16));
}

}  // namespace

uint16_t TypeCompress(const Compression& compression) {
  switch (compression.method) {
    case Method::kStored:
      return 0;
    case Method::kMszip:
      return 1;
    case Method::kLzx:
      return static_cast<uint16_t>(3 | compression.windowBits << 8);
  }
  return 0;
}

uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed) {
  size_t whole = size / 4 * 4;
  for (size_t i = 0; i < whole; i += 4) {
    seed ^= static_cast<uint32_t>(data[i]) | static_cast<uint32_t>(data[i + 1]) << 8 |
            static_cast<uint32_t>(data[i + 2]) << 16 | static_cast<uint32_t>(data[i + 3]) << 24;
  }
  uint32_t tail = 0;
  for (size_t i = whole; i < size; ++i) tail = tail << 8 | data[i];
  return seed ^ tail;
}

size_t TablesSize(size_t folders, const std::vector<FileEntry>& files) {
  size_t size = kHeaderSize + folders * kFolderEntrySize;
  for (const FileEntry& file : files) size += kFileEntrySize + file.name.size() + 1;
  return size;
}

std::vector<uint8_t> SerializeTables(uint32_t cabinetSize, const std::vector<FolderEntry>& folders,
                                     const std::vector<FileEntry>& files) {
  std::vector<uint8_t> out;
  out.reserve(TablesSize(folders.size(), files));
  for (char c : {'M', 'S', 'C', 'F'}) out.push_back(static_cast<uint8_t>(c));
  PutU32(out, 0);  // reserved
  PutU32(out, cabinetSize);
  PutU32(out, 0);  // reserved
  PutU32(out, static_cast<uint32_t>(kHeaderSize + folders.size() * kFolderEntrySize));
  PutU32(out, 0);  // reserved
  out.push_back(3);  // version 1.3
  out.push_back(1);
  PutU16(out, static_cast<uint16_t>(folders.size()));
  PutU16(out, static_cast<uint16_t>(files.size()));
  PutU16(out, 0);  // flags: no previous or next cabinet, no reserve
  PutU16(out, 0);  // set ID: one cabinet, no set
  PutU16(out, 0);  // its number in the set
  for (const FolderEntry& folder : folders) {
    PutU32(out, folder.dataOffset);
    PutU16(out, folder.blocks);
    PutU16(out, folder.typeCompress);
  }
  for (const FileEntry& file : files) {
    PutU32(out, file.size);
    PutU32(out, file.folderOffset);
    PutU16(out, file.folder);
    PutU16(out, file.date);
    PutU16(out, file.time);
    PutU16(out, file.attributes);
    out.insert(out.end(), file.name.begin(), file.name.end());
    out.push_back(0);
  }
  return out;
}

void SerializeDataHeader(const uint8_t* payload, uint16_t size, uint16_t uncompressed,
                         uint8_t header[kDataHeaderSize]) {
  uint8_t sizes[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                      static_cast<uint8_t>(uncompressed), static_cast<uint8_t>(uncompressed >> 8)};
  uint32_t sum = Checksum(sizes, sizeof sizes, Checksum(payload, size, 0));
  for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(sum >> (8 * i));
  for (int i = 0; i < 4; ++i) header[4 + i] = sizes[i];
}

}  // namespace cab
