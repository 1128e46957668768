// zvcab: writes a Microsoft Cabinet of files and directories.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cab_files.h"
#include "cab_writer.h"

namespace {

const char kUsage[] =
    "usage: zvcab [-c METHOD] [-v] -o OUT.cab [-C DIR] NAME...\n"
    "\n"
    "Writes the cabinet OUT.cab of each NAME, a file or a directory (then every\n"
    "regular file under it), relative to DIR (default: the current directory);\n"
    "\"zvcab -o out.cab -C tree .\" packs the whole tree. Files are stored under\n"
    "their paths with backslashes, in byte order, with the archive attribute and\n"
    "their modification time (local time); a name outside ASCII is stored as\n"
    "UTF-8 and marked so. The same files give the same bytes.\n"
    "\n"
    "  -c METHOD  lzx      LZX with a 2 MiB window (lzx:21), the default\n"
    "             lzx:N    LZX with a 2^N-byte window, N from 15 to 21\n"
    "             mszip    MSZIP (deflate), as most cabinet tools write\n"
    "             none     stored uncompressed (also: store, stored)\n"
    "  -v         prints the cabinet's size, folders and blocks\n"
    "  --max-folder-blocks N\n"
    "             starts a new folder after N data blocks rather than the\n"
    "             format's 65535 (to test cabinets of several folders)\n"
    "\n"
    "A cabinet is one folder, or more where the format demands it. A file of\n"
    "4 GiB or more, a name too long or not UTF-8, more than 65535 files or a\n"
    "cabinet of more than 2 GiB is refused, and nothing is written.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseMethod(std::string text, cab::Compression& compression) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "none" || text == "store" || text == "stored") {
    compression = {cab::Method::kStored, 0};
  } else if (text == "mszip" || text == "zip" || text == "deflate") {
    compression = {cab::Method::kMszip, 0};
  } else if (text == "lzx") {
    compression = {cab::Method::kLzx, 21};
  } else if (text.rfind("lzx:", 0) == 0 && text.size() == 6 && std::isdigit(text[4]) &&
             std::isdigit(text[5])) {
    int bits = std::atoi(text.c_str() + 4);
    if (bits < 15 || bits > 21) return false;
    compression = {cab::Method::kLzx, bits};
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  cab::WriteOptions options;
  std::string out, directory;
  bool verbose = false;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "-c") {
      if (!value(text)) return Usage();
      if (!ParseMethod(text, options.compression)) {
        std::fprintf(stderr, "zvcab: unknown method %s: lzx, lzx:15 to lzx:21, mszip or none\n",
                     text.c_str());
        return 2;
      }
    } else if (arg == "-o") {
      if (!value(out)) return Usage();
    } else if (arg == "-C") {
      if (!value(directory)) return Usage();
    } else if (arg == "-v") {
      verbose = true;
    } else if (arg == "--max-folder-blocks") {
      if (!value(text)) return Usage();
      char* end = nullptr;
      unsigned long blocks = std::strtoul(text.c_str(), &end, 10);
      if (*end || blocks < 1 || blocks > cab::kMaxBlocksPerFolder) {
        std::fprintf(stderr, "zvcab: --max-folder-blocks takes 1 to %u\n",
                     cab::kMaxBlocksPerFolder);
        return 2;
      }
      options.maxBlocksPerFolder = static_cast<uint32_t>(blocks);
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--") {
      names.insert(names.end(), argv + i + 1, argv + argc);
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage();
    } else {
      names.push_back(arg);
    }
  }
  if (out.empty() || names.empty()) return Usage();

  std::vector<cab::InputFile> files;
  std::string error;
  cab::WriteResult result;
  if (!cab::CollectFiles(directory, names, files, error) ||
      !cab::WriteCabinet(out, files, options, result, error)) {
    std::fprintf(stderr, "zvcab: %s\n", error.c_str());
    return 1;
  }
  if (verbose) {
    std::fprintf(stderr, "zvcab: %s: %llu bytes of %zu files (%llu bytes) in %zu folders, %zu blocks\n",
                 out.c_str(), static_cast<unsigned long long>(result.cabinetSize), files.size(),
                 static_cast<unsigned long long>(result.uncompressedSize), result.folders,
                 result.blocks);
  }
  return 0;
}
