#include "bitmap_library.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "formats/bmp.h"
#include "formats/qda.h"

namespace zt {

std::optional<BitmapLibrary> load_bitmap_library(const std::filesystem::path& data_dir) {
  // Data the build generated; also built for Windows, where the Linux host's
  // file reader is not.
  std::ifstream in(data_dir / "images.qda", std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  const QdaArchive archive = QdaArchive::parse(std::move(bytes));
  BitmapLibrary lib;
  for (const QdaEntry& e : archive.entries()) {
    const std::optional<std::vector<std::uint8_t>> member = archive.load_member(e.name);
    if (!member) continue;
    std::optional<IndexedBitmap> bmp = decode_indexed_bmp(*member);
    if (!bmp) continue;
    lib.push_back({e.name, std::move(bmp->surface), bmp->palette});
  }
  return lib;
}

}  // namespace zt
