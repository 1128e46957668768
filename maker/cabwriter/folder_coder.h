// A folder's coder: takes the folder's bytes (its files one after another)
// and hands out data blocks, each the payload of one CFDATA for kBlockSize
// uncompressed bytes, the last for fewer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

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

// A coder of each block on its own (stored, MSZIP): gathers the folder's
// bytes into blocks of kBlockSize, the last fewer, and codes each whole.
class BlockCoder : public FolderCoder {
 public:
  bool Write(const uint8_t* data, size_t size) override;
  bool Finish() override;

 protected:
  explicit BlockCoder(BlockSink sink);
  // Codes `block` and hands it to sink_; may take its bytes (swap them out).
  virtual bool Code(std::vector<uint8_t>& block) = 0;

  BlockSink sink_;
  bool ok_ = true;

 private:
  void Flush();

  std::vector<uint8_t> block_;
};

std::unique_ptr<FolderCoder> MakeStoredCoder(BlockSink sink);
std::unique_ptr<FolderCoder> MakeMszipCoder(BlockSink sink);
std::unique_ptr<FolderCoder> MakeLzxCoder(int windowBits, BlockSink sink);

// The coder for `compression`; none for a method this build cannot write.
std::unique_ptr<FolderCoder> MakeFolderCoder(const Compression& compression, BlockSink sink);

}  // namespace cab
