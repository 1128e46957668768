#include "folder_coder.h"

#include <algorithm>

namespace cab {

BlockCoder::BlockCoder(BlockSink sink) : sink_(std::move(sink)) { block_.reserve(kBlockSize); }

bool BlockCoder::Write(const uint8_t* data, size_t size) {
  while (size > 0 && ok_) {
    size_t take = std::min(size, kBlockSize - block_.size());
    block_.insert(block_.end(), data, data + take);
    data += take;
    size -= take;
    if (block_.size() == kBlockSize) Flush();
  }
  return ok_;
}

bool BlockCoder::Finish() {
  if (!block_.empty() && ok_) Flush();
  return ok_;
}

void BlockCoder::Flush() {
  ok_ = Code(block_);
  block_.clear();
}

std::unique_ptr<FolderCoder> MakeFolderCoder(const Compression& compression, BlockSink sink) {
  switch (compression.method) {
    case Method::kStored:
      return MakeStoredCoder(std::move(sink));
    case Method::kMszip:
      return MakeMszipCoder(std::move(sink));
    case Method::kLzx:
      return MakeLzxCoder(compression.windowBits, std::move(sink));
  }
  return nullptr;
}

}  // namespace cab
