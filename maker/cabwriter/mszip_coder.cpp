// MSZIP: each block is "CK" and a whole raw deflate stream of its 32 KiB,
// compressed with the folder's previous 32 KiB as the dictionary, which is
// what decoders keep of the folder between blocks.
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "folder_coder.h"

namespace cab {
namespace {

class MszipCoder : public FolderCoder {
 public:
  explicit MszipCoder(BlockSink sink) : sink_(std::move(sink)) {
    block_.reserve(kBlockSize);
    ok_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    ready_ = ok_;
  }

  ~MszipCoder() override {
    if (ready_) deflateEnd(&stream_);
  }

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
    ok_ = deflateReset(&stream_) == Z_OK;
    if (ok_ && !previous_.empty()) {
      ok_ = deflateSetDictionary(&stream_, previous_.data(),
                                 static_cast<uInt>(previous_.size())) == Z_OK;
    }
    out_.resize(2 + deflateBound(&stream_, static_cast<uLong>(block_.size())));
    out_[0] = 'C';
    out_[1] = 'K';
    stream_.next_in = block_.data();
    stream_.avail_in = static_cast<uInt>(block_.size());
    stream_.next_out = out_.data() + 2;
    stream_.avail_out = static_cast<uInt>(out_.size() - 2);
    ok_ = ok_ && deflate(&stream_, Z_FINISH) == Z_STREAM_END;
    if (ok_) {
      ok_ = sink_(out_.data(), out_.size() - stream_.avail_out,
                  static_cast<uint32_t>(block_.size()));
    }
    previous_.swap(block_);
    block_.clear();
  }

  BlockSink sink_;
  z_stream stream_{};
  std::vector<uint8_t> block_, previous_, out_;
  bool ok_ = false;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<FolderCoder> MakeMszipCoder(BlockSink sink) {
  return std::make_unique<MszipCoder>(std::move(sink));
}

}  // namespace cab
