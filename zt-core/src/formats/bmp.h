// 8-bit Windows bitmaps: the screenshot writer and the decoder of the
// archive's bitmaps.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dddd/surface.h"
#include "game/glue.h"

namespace zt {

// One decoded bitmap: its pixels (colour key 0, keyed off) and its palette,
// red, green, blue and the reserved byte of each colour-table entry.
struct IndexedBitmap {
  Surface surface;
  Palette palette{};
};

// Why a member could not be decoded; the only failure there is.
inline constexpr std::string_view kUnsupportedBmp = "unsupported BMP";

// An uncompressed 8-bit bitmap with a 40-byte info header, stored bottom-up
// (positive height) or top-down (negative height), of a size a sprite sheet
// may have (sheet_size_fits); nothing for any other file, which the caller
// reports as kUnsupportedBmp.
std::optional<IndexedBitmap> decode_indexed_bmp(std::span<const std::uint8_t> bytes);

// When a bitmap's header declares a size that no sheet may have, why
// decode_indexed_bmp refuses it: "W x H pixels is more than a sheet may
// have (...)"; nothing otherwise.
std::optional<std::string> bmp_size_refusal(std::span<const std::uint8_t> bytes);

namespace bmp {

// Size of the headers and the 256-entry colour table in front of the rows.
inline constexpr std::uint32_t kPixelOffset = 1078;

// The file bytes of a width x height picture (pixels row after row from the
// top) with the palette's red, green and blue as its colour table. Nothing
// when the sizes are negative, the pixels are fewer than width x height or
// the file would not fit the format's 32-bit sizes.
std::optional<std::vector<std::uint8_t>> bmp_indexed_bytes(std::int32_t width, std::int32_t height,
                                                           std::span<const std::uint8_t> pixels,
                                                           const Palette& palette);

}  // namespace bmp
}  // namespace zt
