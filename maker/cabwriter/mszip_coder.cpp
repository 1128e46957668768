// MSZIP: each block is "CK" and a whole raw deflate stream of its 32 KiB,
// compressed with the folder's previous 32 KiB as the dictionary, which is
// what decoders keep of the folder between blocks.
#include <zlib.h>

#include "folder_coder.h"

namespace cab {
namespace {

class MszipCoder : public BlockCoder {
 public:
  explicit MszipCoder(BlockSink sink) : BlockCoder(std::move(sink)) {
    ok_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    ready_ = ok_;
  }

  ~MszipCoder() override {
    if (ready_) deflateEnd(&stream_);
  }

 private:
  bool Code(std::vector<uint8_t>& block) override {
    bool ok = deflateReset(&stream_) == Z_OK;
    if (ok && !previous_.empty()) {
      ok = deflateSetDictionary(&stream_, previous_.data(),
                                static_cast<uInt>(previous_.size())) == Z_OK;
    }
    out_.resize(2 + deflateBound(&stream_, static_cast<uLong>(block.size())));
    out_[0] = 'C';
    out_[1] = 'K';
    stream_.next_in = block.data();
    stream_.avail_in = static_cast<uInt>(block.size());
    stream_.next_out = out_.data() + 2;
    stream_.avail_out = static_cast<uInt>(out_.size() - 2);
    ok = ok && deflate(&stream_, Z_FINISH) == Z_STREAM_END;
    ok = ok && sink_(out_.data(), out_.size() - stream_.avail_out,
                     static_cast<uint32_t>(block.size()));
    // This block is the next one's dictionary.
    previous_.swap(block);
    return ok;
  }

  z_stream stream_{};
  std::vector<uint8_t> previous_, out_;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<FolderCoder> MakeMszipCoder(BlockSink sink) {
  return std::make_unique<MszipCoder>(std::move(sink));
}

}  // namespace cab
