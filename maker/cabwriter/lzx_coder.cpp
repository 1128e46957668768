// LZX: the whole folder is one LZX stream; the encoder hands out one
// payload per 32 KiB frame, which is what a data block holds.
#include "folder_coder.h"
#include "lzx_encoder.h"

namespace cab {
namespace {

// Written in the stream header, whence decoders take it: they translate
// only calls whose target lies below it. 12,000,000, the size WIM's LZX
// fixes, covers the code of any package's programs.
constexpr uint32_t kE8TranslationSize = 12000000;

class LzxCoder : public FolderCoder {
 public:
  LzxCoder(int windowBits, BlockSink sink)
      : sink_(std::move(sink)), stream_(LzxBegin(windowBits, kE8TranslationSize)) {
    ok_ = stream_ != nullptr;
  }

  ~LzxCoder() override {
    if (stream_) LzxEnd(stream_, &Discard, nullptr);
  }

  bool Write(const uint8_t* data, size_t size) override {
    if (ok_) LzxWrite(stream_, data, size, &Deliver, this);
    return ok_;
  }

  bool Finish() override {
    if (stream_) LzxEnd(stream_, &Deliver, this);
    stream_ = nullptr;
    return ok_;
  }

 private:
  static void Deliver(void* context, const uint8_t* payload, size_t size, uint32_t uncompressed) {
    LzxCoder* self = static_cast<LzxCoder*>(context);
    if (self->ok_) self->ok_ = self->sink_(payload, size, uncompressed);
  }

  static void Discard(void*, const uint8_t*, size_t, uint32_t) {}

  BlockSink sink_;
  LzxStream* stream_;
  bool ok_ = false;
};

}  // namespace

std::unique_ptr<FolderCoder> MakeLzxCoder(int windowBits, BlockSink sink) {
  return std::make_unique<LzxCoder>(windowBits, std::move(sink));
}

}  // namespace cab
