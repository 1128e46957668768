#include "folder_coder.h"

namespace cab {

std::unique_ptr<FolderCoder> MakeFolderCoder(const Compression& compression, BlockSink sink) {
  switch (compression.method) {
    case Method::kStored:
      return MakeStoredCoder(std::move(sink));
    case Method::kMszip:
      return MakeMszipCoder(std::move(sink));
    case Method::kLzx:
      return nullptr;  // the LZX encoder is not in yet
  }
  return nullptr;
}

}  // namespace cab
