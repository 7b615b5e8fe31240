#include "bitmap_library.h"

#include <vector>

#include "bmp.h"
#include "files.h"
#include "formats/qda.h"

namespace zt {

std::optional<BitmapLibrary> load_bitmap_library(const std::filesystem::path& data_dir) {
  auto read = read_file(data_dir / "images.qda", kArchiveFileCap);
  auto* bytes = std::get_if<std::vector<std::uint8_t>>(&read);
  if (bytes == nullptr) return std::nullopt;
  const QdaArchive archive = QdaArchive::parse(std::move(*bytes));
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
