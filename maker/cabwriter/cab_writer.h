// Writes one cabinet of the given files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab_files.h"
#include "cab_format.h"

namespace cab {

struct WriteOptions {
  Compression compression;
  // Data blocks a folder may hold; fewer only to test the start of new
  // folders without gigabytes of input.
  uint32_t maxBlocksPerFolder = kMaxBlocksPerFolder;
};

struct WriteResult {
  uint64_t cabinetSize = 0;
  uint64_t uncompressedSize = 0;
  size_t folders = 0;
  size_t blocks = 0;
};

// Writes `files` (as CollectFiles gives them) into a new cabinet at `path`,
// in their order. On failure `error` says why, naming the file where there
// is one, and nothing is left at `path`.
bool WriteCabinet(const std::string& path, const std::vector<InputFile>& files,
                  const WriteOptions& options, WriteResult& result, std::string& error);

}  // namespace cab
