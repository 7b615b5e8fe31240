// Archive bitmaps come from outside: any bytes must decode or be refused
// without reading out of bounds, and a decoded bitmap must be consistent.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/bmp.h"
#include "formats/decode_bounds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto bitmap = zt::decode_indexed_bmp(bytes);
  if (!bitmap) return 0;
  const zt::Surface& s = bitmap->surface;
  // Only sizes a sheet may have come out, and those are never refused for their size.
  if (!zt::sheet_size_fits(s.width, s.height) || zt::bmp_size_refusal(bytes)) std::abort();
  if (s.width < 1 || s.height < 1 ||
      s.pixels.size() != static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height) ||
      s.pixels.size() > size || s.colour_key != 0 || s.keyed) {
    std::abort();
  }
  // What was decoded must survive the writer and decode to the same pixels and colours.
  const auto file = zt::bmp::bmp_indexed_bytes(s.width, s.height, s.pixels, bitmap->palette);
  if (!file) std::abort();
  const auto again = zt::decode_indexed_bmp(*file);
  if (!again || again->surface.pixels != s.pixels || again->surface.width != s.width) std::abort();
  for (std::size_t i = 0; i < 1024; ++i) {
    if (i % 4 != 3 && again->palette[i] != bitmap->palette[i]) std::abort();
  }
  return 0;
}
