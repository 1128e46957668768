#include "folder_coder.h"

namespace cab {

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
