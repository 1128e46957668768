// A folder's coder: takes the folder's bytes (its files one after another)
// and hands out data blocks, each the payload of one CFDATA for kBlockSize
// uncompressed bytes, the last for fewer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "cab_format.h"

namespace cab {

// Returns false to have the coder stop handing out blocks (a write failed).
using BlockSink = std::function<bool(const uint8_t* payload, size_t size, uint32_t uncompressed)>;

class FolderCoder {
 public:
  virtual ~FolderCoder() = default;
  // False once the sink has refused a block, or the coder failed.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Hands out what is left; the coder is done.
  virtual bool Finish() = 0;
};

std::unique_ptr<FolderCoder> MakeStoredCoder(BlockSink sink);
std::unique_ptr<FolderCoder> MakeMszipCoder(BlockSink sink);
std::unique_ptr<FolderCoder> MakeLzxCoder(int windowBits, BlockSink sink);

// The coder for `compression`; none for a method this build cannot write.
std::unique_ptr<FolderCoder> MakeFolderCoder(const Compression& compression, BlockSink sink);

}  // namespace cab
