// Stored: each block's payload is its 32 KiB as they are.
#include "folder_coder.h"

namespace cab {
namespace {

class StoredCoder : public BlockCoder {
 public:
  explicit StoredCoder(BlockSink sink) : BlockCoder(std::move(sink)) {}

 private:
  bool Code(std::vector<uint8_t>& block) override {
    return sink_(block.data(), block.size(), static_cast<uint32_t>(block.size()));
  }
};

}  // namespace

std::unique_ptr<FolderCoder> MakeStoredCoder(BlockSink sink) {
  return std::make_unique<StoredCoder>(std::move(sink));
}

}  // namespace cab
