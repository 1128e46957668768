// The cabinet's on-disk structures (one cabinet, no set, no reserve) and
// their fixed sizes and limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cab {

// Uncompressed bytes of one data block at most: every coder cuts its folder
// into blocks of exactly this much but the last.
constexpr uint32_t kBlockSize = 32768;
// Decoders read a block's payload into a buffer this large (cabinet.dll,
// libmspack): a coder's block must never be longer.
constexpr uint32_t kMaxPayload = 32768 + 6144;
constexpr uint32_t kMaxBlocksPerFolder = 65535;  // CFFOLDER.cCFData is 16 bits
constexpr uint32_t kMaxFiles = 65535;            // CFHEADER.cFiles
constexpr uint32_t kMaxFolders = 65535;          // CFHEADER.cFolders
// cbCabinet is 32 bits, but decoders seek with signed 32-bit offsets.
constexpr uint64_t kMaxCabinetSize = 0x7FFFFFFF;
// A name's bytes without its NUL (decoders read 256 with it).
constexpr size_t kMaxNameBytes = 255;

constexpr uint16_t kAttributeArchive = 0x20;
constexpr uint16_t kAttributeUtf8Name = 0x80;

constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderEntrySize = 8;
constexpr size_t kFileEntrySize = 16;  // without the name
constexpr size_t kDataHeaderSize = 8;

enum class Method { kStored, kMszip, kLzx };

struct Compression {
  Method method = Method::kLzx;
  int windowBits = 21;  // LZX only: 15..21
};

// CFFOLDER.typeCompress.
uint16_t TypeCompress(const Compression& compression);

// The format's XOR of little-endian 32-bit words; a 1-3 byte tail is taken
// most significant byte first.
uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed);

struct FileEntry {
  uint32_t size;
  uint32_t folderOffset;  // where the file starts in its folder's data
  uint16_t folder;
  uint16_t date;
  uint16_t time;
  uint16_t attributes;
  std::string name;  // backslash-separated, without NUL
};

// Bytes of the header, the folder table and the file table together.
size_t TablesSize(size_t folders, const std::vector<FileEntry>& files);

struct FolderEntry {
  uint32_t dataOffset;  // of its first data block in the cabinet
  uint16_t blocks;
  uint16_t typeCompress;
};

// CFHEADER (set ID 0, no flags), the CFFOLDERs and the CFFILEs.
std::vector<uint8_t> SerializeTables(uint32_t cabinetSize, const std::vector<FolderEntry>& folders,
                                     const std::vector<FileEntry>& files);

// CFDATA's header, checksummed over the sizes and the payload.
void SerializeDataHeader(const uint8_t* payload, uint16_t size, uint16_t uncompressed,
                         uint8_t header[kDataHeaderSize]);

}  // namespace cab
