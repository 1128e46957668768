// Stored: each block's payload is its 32 KiB as they are.
#include <algorithm>
#include <vector>

#include "folder_coder.h"

namespace cab {
namespace {

class StoredCoder : public FolderCoder {
 public:
  explicit StoredCoder(BlockSink sink) : sink_(std::move(sink)) { block_.reserve(kBlockSize); }

  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0 && ok_) {
      size_t take = std::min(size, kBlockSize - block_.size());
      block_.insert(block_.end(), data, data + take);
      data += take;
      size -= take;
      if (block_.size() == kBlockSize) Flush();
    }
    return ok_;
  }

  bool Finish() override {
    if (!block_.empty() && ok_) Flush();
    return ok_;
  }

 private:
  void Flush() {
    ok_ = sink_(block_.data(), block_.size(), static_cast<uint32_t>(block_.size()));
    block_.clear();
  }

  BlockSink sink_;
  std::vector<uint8_t> block_;
  bool ok_ = true;
};

}  // namespace

std::unique_ptr<FolderCoder> MakeStoredCoder(BlockSink sink) {
  return std::make_unique<StoredCoder>(std::move(sink));
}

}  // namespace cab
