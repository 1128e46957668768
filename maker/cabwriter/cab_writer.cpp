#include "cab_writer.h"

#include <algorithm>
#include <cstdio>

#include "folder_coder.h"
#include "lzx_format.h"

namespace cab {
namespace {

struct Output {
  std::FILE* file = nullptr;
  uint64_t offset = 0;  // bytes written so far
  uint32_t blocks = 0;  // of the folder being written
  uint32_t maxBlocks = 0;
  uint64_t uncompressed = 0;
  std::string error;
};

bool WriteBytes(Output& out, const uint8_t* data, size_t size) {
  if (std::fwrite(data, 1, size, out.file) != size) {
    out.error = "cannot write the cabinet";
    return false;
  }
  out.offset += size;
  return true;
}

bool WriteBlock(Output& out, const uint8_t* payload, size_t size, uint32_t uncompressed) {
  if (size == 0 || size > kMaxPayload || uncompressed == 0 || uncompressed > kBlockSize) {
    out.error = "the coder made a data block of " + std::to_string(size) + " bytes for " +
                std::to_string(uncompressed) + " (at most " + std::to_string(kMaxPayload) +
                " for " + std::to_string(kBlockSize) + ")";
    return false;
  }
  if (++out.blocks > out.maxBlocks) {
    out.error = "the coder made more data blocks than the folder holds";
    return false;
  }
  if (out.offset + kDataHeaderSize + size > kMaxCabinetSize) {
    out.error = "the cabinet would pass " + std::to_string(kMaxCabinetSize) +
                " bytes, the most a cabinet can be";
    return false;
  }
  uint8_t header[kDataHeaderSize];
  SerializeDataHeader(payload, static_cast<uint16_t>(size), static_cast<uint16_t>(uncompressed),
                      header);
  out.uncompressed += uncompressed;
  return WriteBytes(out, header, sizeof header) && WriteBytes(out, payload, size);
}

// Feeds the file's bytes to the coder; false with `error` set.
bool PackFile(const InputFile& file, FolderCoder& coder, Output& out, std::vector<uint8_t>& buffer,
              std::string& error) {
  std::FILE* in = std::fopen(file.path.c_str(), "rb");
  if (!in) {
    error = file.path + ": cannot be opened";
    return false;
  }
  uint64_t left = file.size;
  bool ok = true;
  while (ok && left > 0) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    size_t got = std::fread(buffer.data(), 1, want, in);
    if (got != want) {
      error = file.path + (std::ferror(in) ? ": cannot be read" : ": shrank while it was packed");
      ok = false;
    } else if (!coder.Write(buffer.data(), got)) {
      error = file.path + ": " + (out.error.empty() ? "the coder failed" : out.error);
      ok = false;
    }
    left -= got;
  }
  if (ok && std::fgetc(in) != EOF) {
    error = file.path + ": grew while it was packed";
    ok = false;
  }
  std::fclose(in);
  return ok;
}

}  // namespace

bool WriteCabinet(const std::string& path, const std::vector<InputFile>& files,
                  const WriteOptions& options, WriteResult& result, std::string& error) {
  // An LZX folder stays within the frames whose E8 translation every decoder
  // undoes: Wine's stops a frame before the 32,768th, libmspack's after it.
  const uint32_t maxBlocks = options.compression.method == Method::kLzx
                                 ? std::min<uint32_t>(options.maxBlocksPerFolder, lzx::kE8MaxFrames - 1)
                                 : options.maxBlocksPerFolder;
  std::vector<FolderPlan> plan;
  if (!PlanFolders(files, maxBlocks, plan, error)) return false;

  std::vector<FileEntry> entries;
  entries.reserve(files.size());
  for (size_t folder = 0; folder < plan.size(); ++folder) {
    uint32_t offset = 0;
    for (size_t i = plan[folder].firstFile; i < plan[folder].firstFile + plan[folder].fileCount; ++i) {
      const InputFile& file = files[i];
      entries.push_back(FileEntry{static_cast<uint32_t>(file.size), offset,
                                  static_cast<uint16_t>(folder), file.date, file.time,
                                  file.attributes, file.name});
      offset += static_cast<uint32_t>(file.size);
    }
  }
  size_t tablesSize = TablesSize(plan.size(), entries);
  if (tablesSize > kMaxCabinetSize) {
    error = "the names alone would pass the most a cabinet can be";
    return false;
  }

  Output out;
  out.maxBlocks = maxBlocks;
  out.file = std::fopen(path.c_str(), "wb");
  if (!out.file) {
    error = path + ": cannot be created";
    return false;
  }
  // The tables go in last, once the data's places are known.
  std::vector<uint8_t> buffer(tablesSize, 0);
  bool ok = WriteBytes(out, buffer.data(), buffer.size());
  buffer.assign(1 << 20, 0);

  std::vector<FolderEntry> folders;
  uint16_t type = TypeCompress(options.compression);
  for (size_t folder = 0; ok && folder < plan.size(); ++folder) {
    folders.push_back(FolderEntry{static_cast<uint32_t>(out.offset), 0, type});
    out.blocks = 0;
    if (plan[folder].size == 0) continue;  // empty files only: no data
    BlockSink sink = [&out](const uint8_t* payload, size_t size, uint32_t uncompressed) {
      return WriteBlock(out, payload, size, uncompressed);
    };
    std::unique_ptr<FolderCoder> coder = MakeFolderCoder(options.compression, sink);
    if (!coder) {
      error = "this build of the writer has no coder for the method asked";
      ok = false;
      break;
    }
    const FolderPlan& p = plan[folder];
    for (size_t i = p.firstFile; ok && i < p.firstFile + p.fileCount; ++i) {
      ok = PackFile(files[i], *coder, out, buffer, error);
    }
    if (ok && !coder->Finish()) {
      error = files[p.firstFile + p.fileCount - 1].path + ": " +
              (out.error.empty() ? "the coder failed" : out.error);
      ok = false;
    }
    uint64_t expected = (p.size + kBlockSize - 1) / kBlockSize;
    if (ok && out.blocks != expected) {
      error = "the coder made " + std::to_string(out.blocks) + " data blocks for " +
              std::to_string(expected) + " of 32 KiB";
      ok = false;
    }
    folders.back().blocks = static_cast<uint16_t>(out.blocks);
    result.blocks += out.blocks;
  }

  if (ok) {
    std::vector<uint8_t> tables =
        SerializeTables(static_cast<uint32_t>(out.offset), folders, entries);
    ok = std::fseek(out.file, 0, SEEK_SET) == 0 &&
         std::fwrite(tables.data(), 1, tables.size(), out.file) == tables.size();
    if (!ok) error = path + ": cannot be written";
  } else if (error.empty()) {
    error = path + ": " + out.error;
  }
  if (std::fclose(out.file) != 0 && ok) {
    error = path + ": cannot be written";
    ok = false;
  }
  if (!ok) {
    std::remove(path.c_str());
    return false;
  }
  result.cabinetSize = out.offset;
  result.uncompressedSize = out.uncompressed;
  result.folders = folders.size();
  return true;
}

}  // namespace cab
